#include "support/Logger.h"

#include <cstdarg>
#include <string>

namespace OrvixSDK {

template class Singleton<Logger>;

Logger::Logger() : timer(), file(std::fopen("osdk.log", "w"))
{
    timer.start();
}

Logger::~Logger()
{
    if (file != nullptr)
        std::fclose(file);
    file = nullptr;
    // Never leave the registration pointing at a deleted logger.
    if (inst == this)
        inst = nullptr;
}

void Logger::write(const char* format, ...)
{
    if (file == nullptr || format == nullptr)
        return;
    const std::string time = timer.getTimeStr();
    std::fputs(time.c_str(), file);
    std::fputc('\t', file);
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fflush(file);
}

bool Logger::isOpen() const
{
    return file != nullptr;
}

Logger* Logger::create()
{
    if (inst == nullptr)
        inst = new Logger();
    return inst;
}

void Logger::destroy()
{
    Logger* logger = inst;
    inst = nullptr;
    delete logger;
}

}  // namespace OrvixSDK
