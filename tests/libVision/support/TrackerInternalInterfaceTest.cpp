#include <string>

#include <gtest/gtest.h>

#include "support/TrackerInternalInterface.h"

using OrvixSDK::TrackerInternalInterface;

namespace {

TEST(TrackerInternalInterface, DisplayMessageWritesTheTextToStandardError)
{
    TrackerInternalInterface sink;
    ::testing::internal::CaptureStderr();
    sink.displayMessage("Detector data not found.\n", "Caption", 16);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Detector data not found.\n");
}

TEST(TrackerInternalInterface, NullTextWritesTheGenericNotice)
{
    ::testing::internal::CaptureStderr();
    TrackerInternalInterface::errorAndExit(nullptr, nullptr, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "The OrvixTracker has encountered error and must close.");
}

// Messages can be captured by overriding displayMessage; nothing then goes to
// standard error.  Reaching the end of the test shows the process goes on.
class CapturingSink : public TrackerInternalInterface {
public:
    void displayMessage(const char* text, const char* caption, int flags) override
    {
        messages += std::string(text) + "|" + caption + "|" + std::to_string(flags) + ";";
    }
    std::string messages;
};

TEST(TrackerInternalInterface, SubclassReceivesMessagesThroughTheBase)
{
    CapturingSink capture;
    TrackerInternalInterface* sink = &capture;
    ::testing::internal::CaptureStderr();
    sink->displayMessage("first", "Runner initialisation failed", 16);
    sink->displayMessage("second", "", 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(capture.messages, "first|Runner initialisation failed|16;second||0;");
}

}  // namespace
