// Cost of fitting the face model to one frame of feature points.
//
//   cmake --build <build> --target fitting_bench && <build>/bench/fitting/fitting_bench [frames]
//
// A synthetic Candide-like mesh (written by the tests' mesh writer and
// loaded through Candide3Model::init; 14 shape units, 11 action units, 100
// linked feature points, the configured sensitivities) is fitted to the
// projected points of a head that turns,
// nods and changes expression slowly, with 0.5 pixels of noise in a
// 640x480 image.  Each frame is one FitModelToFace call with one filter
// update, as the tracker runs it, for the pose fit (masks 1 and 3), the
// action-unit fit (mask 5) and the mesh fit (mask 7), on meshes of 100 and
// 500 vertices.  Everything runs on one thread.  The median, the 10th and
// the 90th percentile of the time per call are printed in microseconds.

#include "BenchStats.h"
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>

#include "FittingTestSupport.h"
#include "fitting/EIFModelFitter.h"

using namespace OrvixSDK;
using OrvixTest::FaceParams;

namespace {

const int kWidth = 640;
const int kHeight = 480;

FaceParams headAt(int frame)
{
    const double t = frame / 30.0;
    FaceParams p;
    p.rotation[0] = OrvixTest::radians(8.0 * std::sin(1.1 * t));
    p.rotation[1] = OrvixTest::kPi + OrvixTest::radians(20.0 * std::sin(0.7 * t));
    p.rotation[2] = OrvixTest::radians(5.0 * std::sin(0.5 * t));
    p.translation[0] = 0.03 * std::sin(0.4 * t);
    p.translation[1] = -0.01;
    p.translation[2] = 0.6 + 0.05 * std::sin(0.3 * t);
    for (int u = 0; u < 14; ++u)
        p.su.push_back(0.3 * std::sin(double(u)));
    for (int u = 0; u < 11; ++u)
        p.au.push_back(0.5 * std::sin(0.9 * t + u));
    return p;
}

void run(int vertices, int mask, int frames)
{
    OrvixTest::TempDir dir;
    OrvixTest::CandideMeshOptions mesh;
    mesh.vertexCount = vertices;
    mesh.linkedPoints = 100;
    mesh.shapeUnits = 14;
    mesh.actionUnits = 11;
    auto model = OrvixTest::loadTestMesh(dir, mesh);
    if (!model)
    {
        std::printf("%6d  the test mesh could not be loaded\n", vertices);
        return;
    }

    // Points of every frame are made before timing.
    std::vector<FDP> inputs;
    inputs.reserve(size_t(frames));
    for (int k = 0; k < frames; ++k)
        inputs.push_back(OrvixTest::projectToFDP(*model, headAt(k), kWidth, kHeight, 0.5, unsigned(k + 1)));

    model->reset_pose(&inputs[0], float(kWidth) / kHeight);
    EIFModelFitter fitter(model.get(), &inputs[0], 0);
    std::vector<double> times;
    times.reserve(size_t(frames));
    int failures = 0;
    for (int k = 0; k < frames; ++k)
    {
        const auto start = std::chrono::steady_clock::now();
        fitter.InitInformFilter(mask);
        if (!fitter.FitModelToFace(&inputs[size_t(k)], kWidth, kHeight, nullptr, 1))
            ++failures;
        const auto stop = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    }
    // The first frames include building the filter and settling in.
    times.erase(times.begin(), times.begin() + std::min<size_t>(times.size() / 10, 20));
    const OrvixTest::ParamError e = OrvixTest::compareParameters(*model, headAt(frames - 1));
    const OrvixBench::Summary s = OrvixBench::summarise(times);
    std::printf("%6d %5d %5d %10.1f %10.1f %10.1f   %6.2f deg %6.2f %%  %d\n", model->vertexCount, fitter.count, mask,
                s.median, s.low, s.high, e.rotationDegrees, 100.0 * e.translationRelative, failures);
}

} // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(50, std::atoi(argv[1])) : 600;
    omp_set_num_threads(1);
    cv::setNumThreads(1);
    std::printf("FitModelToFace, 1 update per frame, %d frames of a moving head, 640x480, 0.5 px noise\n", frames);
    std::printf("%6s %5s %5s %10s %10s %10s   %s\n", "verts", "pts", "mask", "median us", "p10 us", "p90 us",
                "error at the last frame, failures");
    for (int vertices : {100, 500})
        for (int mask : {1, 3, 5, 7})
            run(vertices, mask, frames);
    return 0;
}
