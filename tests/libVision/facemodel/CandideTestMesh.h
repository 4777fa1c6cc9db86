#ifndef ORVIX_TESTS_FACEMODEL_CANDIDETESTMESH_H
#define ORVIX_TESTS_FACEMODEL_CANDIDETESTMESH_H

// A synthetic Candide-like face for tests that need a loaded Candide3Model:
// a mesh file (.wfm) of a requested vertex count with smooth shape units and
// action units, a linked feature-point file (.fdp), three fitting-model
// configurations (pose, au, mesh) and a tracker configuration naming them.
//
//   #include "libVision/facemodel/CandideTestMesh.h"   (tests/ is on the include path)
//   OrvixTest::TempDir dir;
//   OrvixTest::CandideMeshOptions meshOptions;           // 100 vertices, 4 SU, 6 AU, 100 links
//   meshOptions.vertexCount = 500;
//   const std::string cfg = OrvixTest::writeCandideMesh(dir, meshOptions);
//   OrvixSDK::OrvixConfiguration configuration(cfg.c_str());
//   OrvixSDK::Candide3Model model;
//   model.init(&configuration, nullptr, OrvixSDK::Candide3Model::POSE_FITTING_MODEL);   // or AU / MESH
//
// The head is a deformed ellipsoid seen from the front along +z in its own
// frame (x to the person's left, y up), about 0.16 m wide, with a nose bump.
// Vertices lie on a latitude / longitude grid that is denser towards the
// front, closed by two pole vertices; grids that do not fill the requested
// count exactly get the rest as loose vertices inside the head (on no
// triangle, linked to no point).  Triangles are wound so that the model's
// visibility test sees the front of the face when the head looks at the
// camera.  Feature points are linked to the grid vertex nearest to their
// place on the face: first 3.5 and 3.6 (pupils, on distinct vertices left
// and right), 9.3 (nose tip), 7.1, eye corners, mouth corners, chin, brows,
// nose, ears, then the remaining points of groups 2..17 in order at spread
// places on the front, until `linkedPoints` are linked (several points may
// share a vertex on small meshes).  Unit k moves the vertices around its own
// centre on the face with a Gaussian weight (sigma 25 degrees for action
// units, 40 for shape units), up to 0.01 per unit value before the model's
// eye-distance scaling: up, outwards or forwards by k % 3 (forward units are
// barely visible in a frontal view).
//
// Files written into the TempDir, all named after `prefix`:
//   <prefix>.wfm, <prefix>.fdp, <prefix>_pose.cfg, <prefix>_au.cfg,
//   <prefix>_mesh.cfg and <prefix>_tracker.cfg (the returned path).
// The tracker configuration holds camera_focus, process_eyes,
// fitting_algorithm and the other tracker keys with plain values; the three
// model configurations use every unit, with the limits and sensitivities
// below.

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "OrvixSDK/FDP.h"
#include "TestSupport.h"

namespace OrvixTest {

struct CandideMeshOptions
{
    int vertexCount = 100;   // raised to at least 10
    int shapeUnits = 4;      // 0 writes no "SHAPE UNITS LIST" section
    int actionUnits = 6;     // 0 writes no "ANIMATION UNITS LIST" section
    int linkedPoints = 100;  // 3 .. 253 (pupils and nose tip are always linked)
    std::string prefix = "candide";
    float cameraFocus = 3.0f;
    // Limits and sensitivities written into the model configurations.
    float auLimit = 2.0f;                 // each unit in [-auLimit, auLimit]
    float poseSensitivity = 0.01f;
    float unitSensitivity = 0.1f;
    std::string fittingAlgorithm = "eif_pose_su_au";
};

namespace candide_detail {

const double kPi = 3.14159265358979323846;

struct Vertex
{
    double x, y, z;
    double lon, lat;   // degrees; loose vertices: 0, -90
    bool onGrid;
};

// A point on the head at longitude lon (0 = front, positive to the
// person's left) and latitude lat (degrees).
inline void headPoint(double lon, double lat, double& x, double& y, double& z)
{
    const double a = 0.08, b = 0.11, c = 0.05;
    const double lo = lon * kPi / 180.0, la = lat * kPi / 180.0;
    const double nose = 0.02 * std::exp(-((lon / 7.0) * (lon / 7.0) + ((lat + 6.0) / 9.0) * ((lat + 6.0) / 9.0)));
    x = a * std::cos(la) * std::sin(lo);
    y = b * std::sin(la) - 0.01;
    z = c * std::cos(la) * std::cos(lo) - 0.04 + nose;
}

// Places of the named points on the face (lon, lat in degrees).
struct Place
{
    int group, index;
    double lon, lat;
};

inline const std::vector<Place>& namedPlaces()
{
    static const std::vector<Place> places = {
        {3, 5, 25, 10},   {3, 6, -25, 10},  {9, 3, 0, -6},     {7, 1, 180, -40},
        {3, 7, 36, 10},   {3, 8, -36, 10},  {3, 11, 14, 10},   {3, 12, -14, 10},
        {8, 3, 18, -28},  {8, 4, -18, -28}, {2, 1, 0, -50},    {8, 1, 0, -22},
        {8, 2, 0, -33},   {4, 1, 10, 22},   {4, 2, -10, 22},   {4, 3, 22, 24},
        {4, 4, -22, 24},  {4, 5, 34, 21},   {4, 6, -34, 21},   {9, 1, 8, -12},
        {9, 2, -8, -12},  {9, 15, 0, 0},    {10, 1, 85, 5},    {10, 2, -85, 5},
        {3, 1, 25, 14},   {3, 2, -25, 14},  {3, 3, 25, 6},     {3, 4, -25, 6},
        {2, 2, 0, -24},   {2, 3, 0, -31},   {11, 1, 0, 60},    {5, 1, 50, -20},
        {5, 2, -50, -20},
    };
    return places;
}

// A spread place on the front of the face for any other point.
inline void spreadPlace(int group, int index, double& lon, double& lat)
{
    const double h = std::fmod(group * 0.618034 + index * 0.381966, 1.0);
    const double k = std::fmod(group * 0.271828 + index * 0.7548777, 1.0);
    const double side = (index % 2 == 1) ? 1.0 : -1.0;
    lon = side * (5.0 + 60.0 * h);
    lat = -45.0 + 80.0 * k;
}

inline std::string number(double v)
{
    std::ostringstream out;
    out.precision(9);
    out << v;
    return out.str();
}

}  // namespace candide_detail

// Writes the mesh, link file and configurations described above into dir and
// returns the path of the tracker configuration.
inline std::string writeCandideMesh(TempDir& dir, const CandideMeshOptions& meshOptions)
{
    using namespace candide_detail;
    const int vertexCount = std::max(meshOptions.vertexCount, 10);
    const int shapeUnits = std::max(meshOptions.shapeUnits, 0);
    const int actionUnits = std::max(meshOptions.actionUnits, 0);
    const int linkedPoints = std::min(std::max(meshOptions.linkedPoints, 3), OrvixSDK::FDP::pointCount);

    // Grid: rows of latitude between two poles, columns of longitude.
    const int inner = vertexCount - 2;
    int cols = static_cast<int>(std::lround(std::sqrt(2.0 * inner)));
    cols = std::max(4, cols + (cols % 2));
    int rows = inner / cols;
    while (rows < 2) {
        cols -= 2;
        rows = inner / cols;
    }
    std::vector<Vertex> vertices;
    for (int i = 0; i < rows; ++i) {
        const double lat = 75.0 * (-1.0 + 2.0 * (i + 0.5) / rows);
        for (int j = 0; j < cols; ++j) {
            const double t = -1.0 + 2.0 * j / cols;
            const double lon = 180.0 * t * std::sqrt(std::fabs(t));   // denser at the front
            Vertex v{0, 0, 0, lon, lat, true};
            headPoint(lon, lat, v.x, v.y, v.z);
            vertices.push_back(v);
        }
    }
    const int south = static_cast<int>(vertices.size());
    {
        Vertex v{0, 0, 0, 0, -90, true};
        headPoint(0, -90, v.x, v.y, v.z);
        vertices.push_back(v);
        Vertex w{0, 0, 0, 0, 90, true};
        headPoint(0, 90, w.x, w.y, w.z);
        vertices.push_back(w);
    }
    const int north = south + 1;
    while (static_cast<int>(vertices.size()) < vertexCount) {
        const double k = static_cast<double>(vertices.size() - north);
        vertices.push_back(Vertex{0.005 * std::sin(k), 0.005 * std::cos(k), -0.04 + 0.001 * k, 0, -90, false});
    }

    // Triangles, wound so that (b - a) x (c - a) points into the head.
    std::vector<int> faces;
    auto addTriangle = [&](int a, int b, int c) {
        const Vertex& va = vertices[a];
        const Vertex& vb = vertices[b];
        const Vertex& vc = vertices[c];
        const double ab[3] = {vb.x - va.x, vb.y - va.y, vb.z - va.z};
        const double ac[3] = {vc.x - va.x, vc.y - va.y, vc.z - va.z};
        const double n[3] = {ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2], ab[0] * ac[1] - ab[1] * ac[0]};
        const double centre[3] = {(va.x + vb.x + vc.x) / 3.0, (va.y + vb.y + vc.y) / 3.0 + 0.01,
                                  (va.z + vb.z + vc.z) / 3.0 + 0.04};
        const double outward = n[0] * centre[0] + n[1] * centre[1] + n[2] * centre[2];
        faces.push_back(a);
        if (outward > 0) {
            faces.push_back(c);
            faces.push_back(b);
        } else {
            faces.push_back(b);
            faces.push_back(c);
        }
    };
    auto at = [&](int i, int j) { return i * cols + (j % cols); };
    for (int i = 0; i + 1 < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            addTriangle(at(i, j), at(i, j + 1), at(i + 1, j));
            addTriangle(at(i, j + 1), at(i + 1, j + 1), at(i + 1, j));
        }
    }
    for (int j = 0; j < cols; ++j) {
        addTriangle(south, at(0, j + 1), at(0, j));
        addTriangle(north, at(rows - 1, j), at(rows - 1, j + 1));
    }

    // Feature point links.
    auto nearest = [&](double lon, double lat, int side) {
        double x, y, z;
        headPoint(lon, lat, x, y, z);
        int best = -1;
        double bestDistance = 1e30;
        for (int k = 0; k < static_cast<int>(vertices.size()); ++k) {
            const Vertex& v = vertices[k];
            if (!v.onGrid || (side > 0 && v.x <= 1e-9) || (side < 0 && v.x >= -1e-9))
                continue;
            const double d = (v.x - x) * (v.x - x) + (v.y - y) * (v.y - y) + (v.z - z) * (v.z - z);
            if (d < bestDistance) {
                bestDistance = d;
                best = k;
            }
        }
        return best;
    };
    std::vector<std::vector<int>> link(OrvixSDK::FDP::groupCount);
    for (int g = OrvixSDK::FDP::firstGroup; g <= OrvixSDK::FDP::lastGroup; ++g)
        link[g].assign(OrvixSDK::FDP::groupSize(g) + 1, -1);
    int linked = 0;
    for (const Place& p : namedPlaces()) {
        if (linked >= linkedPoints)
            break;
        const int side = (p.group == 3 && p.index == 5) ? 1 : (p.group == 3 && p.index == 6) ? -1 : 0;
        link[p.group][p.index] = nearest(p.lon, p.lat, side);
        ++linked;
    }
    for (int g = OrvixSDK::FDP::firstGroup; g <= OrvixSDK::FDP::lastGroup && linked < linkedPoints; ++g) {
        for (int i = 1; i <= OrvixSDK::FDP::groupSize(g) && linked < linkedPoints; ++i) {
            if (link[g][i] >= 0)
                continue;
            double lon, lat;
            spreadPlace(g, i, lon, lat);
            link[g][i] = nearest(lon, lat, 0);
            ++linked;
        }
    }

    // Unit displacement fields: a Gaussian weight around a centre of its own
    // per unit.  Unit k moves up (k % 3 == 0), outwards on both sides (1) or
    // forwards along the line of sight (2); shape units also widen (odd k) or
    // lengthen (even k) the head around their centre.
    auto unitList = [&](int count, bool shape) {
        std::ostringstream out;
        out << count << "\n";
        for (int k = 0; k < count; ++k) {
            const double f = shape ? 0.5 + k : 1.0 + k;
            const double clon = -50.0 + 100.0 * std::fmod(f * 0.618034, 1.0);
            const double clat = -45.0 + 75.0 * std::fmod(f * 0.381966, 1.0);
            const double sigma = shape ? 40.0 : 25.0;
            out << "# " << (shape ? "SU" : "AU") << k << "\n";
            std::vector<std::string> entries;
            for (int v = 0; v < static_cast<int>(vertices.size()); ++v) {
                const Vertex& vx = vertices[v];
                if (!vx.onGrid)
                    continue;
                const double dl = vx.lon - clon, dt = vx.lat - clat;
                const double w = std::exp(-(dl * dl + dt * dt) / (2.0 * sigma * sigma));
                if (w < 0.01)
                    continue;
                double d[3] = {0, 0, 0};
                const double side = vx.x >= 0 ? 1.0 : -1.0;
                switch (k % 3) {
                case 0: d[1] = 0.01 * w; break;            // up
                case 1: d[0] = 0.01 * w * side; break;     // outwards, both sides
                default: d[2] = 0.01 * w; break;           // forwards
                }
                if (shape) {
                    d[0] += 0.004 * w * vx.x / 0.08 * ((k % 2) ? 1.0 : 0.0);
                    d[1] += 0.004 * w * vx.y / 0.11 * ((k % 2) ? 0.0 : 1.0);
                }
                entries.push_back(std::to_string(v) + " " + number(d[0]) + " " + number(d[1]) + " " + number(d[2]));
            }
            out << entries.size() << "\n";
            for (const std::string& e : entries)
                out << e << "\n";
        }
        return out.str();
    };

    std::ostringstream wfm;
    wfm << "# Synthetic Candide-like test face, " << vertices.size() << " vertices\n";
    wfm << "# VERTEX LIST:\n" << vertices.size() << "\n";
    for (const Vertex& v : vertices)
        wfm << number(v.x) << " " << number(v.y) << " " << number(v.z) << "\n";
    wfm << "\n# TEXCOORD LIST:\n" << vertices.size() << "\n";
    for (const Vertex& v : vertices)
        wfm << number(0.5 + v.lon / 360.0) << " " << number(0.5 - v.lat / 180.0) << "\n";
    wfm << "\n# FACE LIST:\n" << faces.size() / 3 << "\n";
    for (std::size_t f = 0; f < faces.size(); f += 3)
        wfm << faces[f] << " " << faces[f + 1] << " " << faces[f + 2] << "\n";
    if (actionUnits > 0)
        wfm << "\n# ANIMATION UNITS LIST:\n" << unitList(actionUnits, false);
    if (shapeUnits > 0)
        wfm << "\n# SHAPE UNITS LIST:\n" << unitList(shapeUnits, true);
    wfm << "\n# END OF MESH\n";
    dir.write(meshOptions.prefix + ".wfm", wfm.str());

    std::ostringstream fdp;
    fdp << "# FDP file.\n1.0 " << meshOptions.prefix << ".fdp 0 0 0 0 0 0\n";
    for (int g = OrvixSDK::FDP::firstGroup; g <= OrvixSDK::FDP::lastGroup; ++g) {
        for (int i = 1; i <= OrvixSDK::FDP::groupSize(g); ++i) {
            const int v = link[g][i];
            if (v < 0)
                continue;
            fdp << "    " << g << "." << i << " " << number(vertices[v].x) << " " << number(vertices[v].y) << " "
                << number(vertices[v].z) << " 0." << v << "\n";
        }
    }
    dir.write(meshOptions.prefix + ".fdp", fdp.str());

    auto repeat = [](int count, const std::string& value) {
        std::string text;
        for (int k = 0; k < count; ++k)
            text += (k ? " " : "") + value;
        return text;
    };
    std::ostringstream model;
    model << "model_filename " << meshOptions.prefix << ".wfm\n"
          << "fdp_filename " << meshOptions.prefix << ".fdp\n"
          << "rotation_limit -1.2 1.2 1.5 4.8 -1.6 1.6\n"
          << "translation_limit -3 3 -3 3 0.05 20\n"
          << "pose_sensitivity " << repeat(6, number(meshOptions.poseSensitivity)) << "\n";
    if (actionUnits > 0) {
        model << "au_use " << repeat(actionUnits, "1") << "\n"
              << "au_sensitivity " << repeat(actionUnits, number(meshOptions.unitSensitivity)) << "\n"
              << "action_unit_limit " << repeat(actionUnits, number(-meshOptions.auLimit) + " " + number(meshOptions.auLimit)) << "\n"
              << "au_names";
        for (int k = 0; k < actionUnits; ++k)
            model << " unit" << k;
        model << "\n";
    }
    if (shapeUnits > 0) {
        model << "su_use " << repeat(shapeUnits, "1") << "\n"
              << "su_sensitivity " << repeat(shapeUnits, number(meshOptions.unitSensitivity)) << "\n";
    }
    for (const char* role : {"_pose.cfg", "_au.cfg", "_mesh.cfg"})
        dir.write(meshOptions.prefix + role, model.str());

    std::ostringstream tracker;
    tracker << "camera_focus " << number(meshOptions.cameraFocus) << "\n"
            << "recovery_timeout 1000\n"
            << "smoothing_factors -1 -1 -1 -1 -1 -1 -1 -1\n"
            << "enable_smoothing 0\n"
            << "temporally_denoise_input 0\n"
            << "process_eyes 1\n"
            << "refine_ears 0\n"
            << "min_face_scale 0.15\n"
            << "max_face_scale 1.0\n"
            << "refine_landmarks 0\n"
            << "face_detector_sensitivity 0.5\n"
            << "fitting_algorithm " << meshOptions.fittingAlgorithm << "\n"
            << "pose_fitting_model_configuration " << meshOptions.prefix << "_pose.cfg\n"
            << "au_fitting_model_configuration " << meshOptions.prefix << "_au.cfg\n"
            << "mesh_fitting_model_configuration " << meshOptions.prefix << "_mesh.cfg\n";
    return dir.write(meshOptions.prefix + "_tracker.cfg", tracker.str());
}

}  // namespace OrvixTest

#endif
