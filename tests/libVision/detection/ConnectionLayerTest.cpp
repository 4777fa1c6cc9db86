// The step between the two deep-alignment stages: affine helpers and the
// landmark heatmap.

#include "detection/ConnectionLayer.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

namespace {

using OrvixSDK::ConnectionLayer;

// A 2 x 3 float transform: rotation by degrees, scale, then translation.
cv::Mat Affine(double degrees, double scale, double tx, double ty)
{
    const double a = degrees * CV_PI / 180.0;
    cv::Mat m = (cv::Mat_<float>(2, 3) << scale * std::cos(a), -scale * std::sin(a), tx, scale * std::sin(a),
                 scale * std::cos(a), ty);
    return m;
}

cv::Point2f Apply(const cv::Mat& t, cv::Point2f p)
{
    return {t.at<float>(0, 0) * p.x + t.at<float>(0, 1) * p.y + t.at<float>(0, 2),
            t.at<float>(1, 0) * p.x + t.at<float>(1, 1) * p.y + t.at<float>(1, 2)};
}

cv::Mat Points(const std::vector<cv::Point2f>& points)
{
    cv::Mat m(static_cast<int>(points.size()), 2, CV_32FC1);
    for (int k = 0; k < m.rows; ++k) {
        m.at<float>(k, 0) = points[static_cast<size_t>(k)].x;
        m.at<float>(k, 1) = points[static_cast<size_t>(k)].y;
    }
    return m;
}

const std::vector<cv::Point2f> kPoints = {{0, 0}, {10, 0}, {3.5f, -7.25f}, {48, 48}, {-20, 95.5f}};

struct TransformPair {
    double degreesA, scaleA, txA, tyA;
    double degreesB, scaleB, txB, tyB;
};

void PrintTo(const TransformPair& p, std::ostream* out)
{
    *out << "a(" << p.degreesA << " deg, x" << p.scaleA << ", " << p.txA << ", " << p.tyA << ") b(" << p.degreesB
         << " deg, x" << p.scaleB << ", " << p.txB << ", " << p.tyB << ")";
}

class ConnectionLayerTransformTest : public ::testing::TestWithParam<TransformPair> {};

TEST_P(ConnectionLayerTransformTest, CombinationAppliesTheSecondFirstAndMayOverwriteIt)
{
    const TransformPair& p = GetParam();
    const cv::Mat a = Affine(p.degreesA, p.scaleA, p.txA, p.tyA);
    cv::Mat b = Affine(p.degreesB, p.scaleB, p.txB, p.tyB);
    const cv::Mat original = b.clone();

    CvMat aHeader = cvMat(a);
    CvMat bHeader = cvMat(b);
    cv::Mat separate(2, 3, CV_32FC1);
    CvMat separateHeader = cvMat(separate);
    ConnectionLayer::combineTransformations(&aHeader, &bHeader, &separateHeader);
    ConnectionLayer::combineTransformations(&aHeader, &bHeader, &bHeader);  // out is b

    for (const cv::Point2f& point : kPoints) {
        const cv::Point2f expected = Apply(a, Apply(original, point));
        const cv::Point2f viaSeparate = Apply(separate, point);
        const cv::Point2f viaInPlace = Apply(b, point);
        EXPECT_NEAR(viaSeparate.x, expected.x, 1e-3);
        EXPECT_NEAR(viaSeparate.y, expected.y, 1e-3);
        EXPECT_NEAR(viaInPlace.x, expected.x, 1e-3);
        EXPECT_NEAR(viaInPlace.y, expected.y, 1e-3);
    }
}

TEST_P(ConnectionLayerTransformTest, LandmarkTransformAndItsInverseRoundTripInPlace)
{
    const TransformPair& p = GetParam();
    const cv::Mat t = Affine(p.degreesA, p.scaleA, p.txA, p.tyA);
    CvMat tHeader = cvMat(t);
    const cv::Mat original = Points(kPoints);
    cv::Mat points = original.clone();
    CvMat header = cvMat(points);

    ConnectionLayer::doLandmarkTransform(&header, &header, &tHeader, false);
    for (size_t k = 0; k < kPoints.size(); ++k) {
        const cv::Point2f expected = Apply(t, kPoints[k]);
        EXPECT_NEAR(points.at<float>(static_cast<int>(k), 0), expected.x, 1e-3);
        EXPECT_NEAR(points.at<float>(static_cast<int>(k), 1), expected.y, 1e-3);
    }

    // Into a separate matrix, inverted: back where the points started, and
    // the source untouched.
    cv::Mat back(points.rows, 2, CV_32FC1, cv::Scalar(-1));
    CvMat backHeader = cvMat(back);
    const cv::Mat moved = points.clone();
    ConnectionLayer::doLandmarkTransform(&header, &backHeader, &tHeader, true);
    EXPECT_EQ(cv::norm(points, moved, cv::NORM_INF), 0.0);
    EXPECT_LT(cv::norm(back, original, cv::NORM_INF), 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Transforms, ConnectionLayerTransformTest,
                         ::testing::Values(TransformPair{0, 1, 0, 0, 0, 1, 0, 0},
                                           TransformPair{30, 2, 5, -3, -45, 0.5, 10, 20},
                                           TransformPair{-6, 1.536, 48, 48, 90, 1, -7, 3},
                                           TransformPair{180, 0.25, -100, 50, 12.5, 3, 0.5, -0.5}));

class HeatmapTest : public ::testing::Test {
protected:
    ConnectionLayer layer{96, 16, 1.25f};
    cv::Mat heatmap = cv::Mat::zeros(96, 96, CV_8UC1);

    void Paint(cv::Mat& landmarks)
    {
        CvMat landmarksHeader = cvMat(landmarks);
        CvMat heatmapHeader = cvMat(heatmap);
        layer.doHeatmapGeneration(&landmarksHeader, &heatmapHeader);
    }
};

TEST_F(HeatmapTest, LandmarkNearTheEdgeIsPaintedClampedButKeepsItsCoordinates)
{
    cv::Mat landmarks = (cv::Mat_<float>(1, 2) << 3.2f, 90.7f);
    Paint(landmarks);
    EXPECT_FLOAT_EQ(landmarks.at<float>(0, 0), 3.2f);
    EXPECT_FLOAT_EQ(landmarks.at<float>(0, 1), 90.7f);

    // Clamped to column 8, row 87: a 17 x 17 patch, rows 79..95, columns 0..16.
    EXPECT_EQ(heatmap.at<unsigned char>(87, 8), 255);
    // One pixel away: 255 / (1 + sqrt(1 + 1e-6)) = 127.49997.
    EXPECT_EQ(heatmap.at<unsigned char>(87, 9), 127);
    EXPECT_EQ(heatmap.at<unsigned char>(86, 8), 127);
    // Patch corner: 255 / (1 + sqrt(128)) = 20.7.
    EXPECT_EQ(heatmap.at<unsigned char>(79, 0), 21);
    EXPECT_EQ(heatmap.at<unsigned char>(95, 16), 21);
    const cv::Rect patch(0, 79, 17, 17);
    EXPECT_EQ(cv::countNonZero(heatmap(patch)), 17 * 17);
    EXPECT_EQ(cv::countNonZero(heatmap), 17 * 17);
}

TEST_F(HeatmapTest, SubPixelPeaksAreSymmetricAndOverlapsKeepTheLargerValue)
{
    // Half-way between two columns, and a second landmark 4 pixels below.
    cv::Mat landmarks = (cv::Mat_<float>(2, 2) << 40.5f, 30.0f, 40.5f, 34.0f);
    Paint(landmarks);
    // d = 0.5 for columns 40 and 41: 255 / 1.5 = 170.
    EXPECT_EQ(heatmap.at<unsigned char>(30, 40), 170);
    EXPECT_EQ(heatmap.at<unsigned char>(30, 41), 170);
    EXPECT_EQ(heatmap.at<unsigned char>(34, 40), 170);
    // Row 32 lies 2 rows from both centres: same value as from one alone.
    const double d = std::sqrt(0.25 + 4.0 + 1e-6);
    EXPECT_EQ(heatmap.at<unsigned char>(32, 40), static_cast<int>(std::nearbyint(255.0 / (1.0 + d))));
    // Rows 22..42, columns 32..48 are covered, nothing else.
    EXPECT_EQ(cv::countNonZero(heatmap), 21 * 17);
    EXPECT_EQ(cv::countNonZero(heatmap(cv::Rect(32, 22, 17, 21))), 21 * 17);
    // Row 30 is a peak row: values fall away from the centre on both sides.
    for (int dx = 1; dx <= 8; ++dx)
        EXPECT_EQ(heatmap.at<unsigned char>(30, 40 - dx + 1), heatmap.at<unsigned char>(30, 41 + dx - 1));
}

TEST_F(HeatmapTest, NonFiniteLandmarksStayInsideTheFrame)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    cv::Mat landmarks = (cv::Mat_<float>(3, 2) << nan, nan, inf, -inf, -1e30f, 1e30f);
    Paint(landmarks);
    // Every patch lands at a corner of the allowed range.
    EXPECT_EQ(heatmap.at<unsigned char>(8, 8), 255);
    EXPECT_EQ(heatmap.at<unsigned char>(8, 87), 255);
    EXPECT_EQ(heatmap.at<unsigned char>(87, 8), 255);
}

}  // namespace
