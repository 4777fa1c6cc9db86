// orvix-vino-pack: writes and checks ".vino" model containers.
//
//   orvix-vino-pack pack IN.onnx OUT.vino --channels C --height H --width W
//                   [--type uint8|fp32] [--layout nhwc|nchw]
//   orvix-vino-pack verify FILE.vino
//
// "pack" loads the network with OpenCV's dnn module and runs it once on the
// declared input before anything is written, then encrypts it under the
// SDK's model key and writes OUT.vino (through a temporary file renamed into
// place, so a failed run leaves no partial container). The same network
// always packs to the same bytes. "verify" decrypts a
// container, checks padding and checksum, loads the network and prints the
// declared input and the input and output shapes.
//
// Exit status: 0 success, 1 a file or network problem, 2 a usage error.

#include "VinoContainer.h"
#include "detection/ModelKey.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/dnn.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

using namespace OVPlugin;

namespace
{

const int EXIT_OK = 0;
const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;

void PrintUsage(FILE* out)
{
    std::fprintf(out,
                 "usage: orvix-vino-pack pack IN.onnx OUT.vino --channels C --height H --width W"
                 " [--type uint8|fp32] [--layout nhwc|nchw]\n"
                 "       orvix-vino-pack verify FILE.vino\n"
                 "The input type defaults to uint8 and the layout to nhwc.\n");
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "orvix-vino-pack: %s\n", message.c_str());
    PrintUsage(stderr);
    return EXIT_USAGE;
}

// A whole decimal number in 1..VINO_MAX_DIMENSION, or 0.
int ParseDimension(const char* text)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return 0;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > VINO_MAX_DIMENSION)
        return 0;
    return static_cast<int>(value);
}

std::string ShapeText(const cv::MatSize& size)
{
    std::string text;
    for (int i = 0; i < size.dims(); ++i)
        text += (i ? "x" : "") + std::to_string(size[i]);
    return text;
}

std::string DeclarationText(const InputDeclaration& input)
{
    return std::string(input.dataType == ONN::FP32 ? "fp32" : "uint8") + " "
           + (input.layout == ONN::ImageUtils::NCHW ? "nchw" : "nhwc") + " channels "
           + std::to_string(input.channels) + " height " + std::to_string(input.height) + " width "
           + std::to_string(input.width);
}

// Loads the network from memory and runs it once on zeros of the declared
// shape. Fills the blob and output shapes; false with a message otherwise.
bool TryNetwork(const std::vector<unsigned char>& onnx, const InputDeclaration& input, std::string& inputShape,
                std::string& outputShape, std::string& error)
{
    try
    {
        cv::dnn::Net net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(onnx.data()), onnx.size());
        if (net.empty())
        {
            error = "OpenCV read an empty network";
            return false;
        }
        net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        const int shape[4] = {1, input.channels, input.height, input.width};
        cv::Mat blob(4, shape, CV_32F, cv::Scalar(0));
        net.setInput(blob);
        cv::Mat output = net.forward();
        if (output.empty())
        {
            error = "the network produced no output";
            return false;
        }
        inputShape = ShapeText(blob.size);
        outputShape = ShapeText(output.size);
        return true;
    }
    catch (const std::exception& e)
    {
        error = e.what();
    }
    catch (...)
    {
        error = "unknown error";
    }
    return false;
}

int Pack(int argc, char** argv)
{
    if (argc < 4)
        return UsageError("pack needs an input and an output file");
    const char* inPath = argv[2];
    const char* outPath = argv[3];
    InputDeclaration input;
    for (int i = 4; i < argc; i += 2)
    {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            return UsageError("option " + option + " needs a value");
        const std::string value = argv[i + 1];
        if (option == "--channels" || option == "--height" || option == "--width")
        {
            const int dimension = ParseDimension(value.c_str());
            if (dimension == 0)
                return UsageError("bad value for " + option + ": " + value + " (1.."
                                  + std::to_string(VINO_MAX_DIMENSION) + ")");
            (option == "--channels" ? input.channels : option == "--height" ? input.height : input.width) = dimension;
        }
        else if (option == "--type")
        {
            if (value != "uint8" && value != "fp32")
                return UsageError("bad value for --type: " + value + " (uint8 or fp32)");
            input.dataType = value == "fp32" ? ONN::FP32 : ONN::UINT8;
        }
        else if (option == "--layout")
        {
            if (value != "nhwc" && value != "nchw")
                return UsageError("bad value for --layout: " + value + " (nhwc or nchw)");
            input.layout = value == "nchw" ? ONN::ImageUtils::NCHW : ONN::ImageUtils::NHWC;
        }
        else
        {
            return UsageError("unknown option: " + option);
        }
    }
    if (input.channels == 0 || input.height == 0 || input.width == 0)
        return UsageError("pack needs --channels, --height and --width");
    if (!input.IsValid())
        return UsageError("input shape too large (at most " + std::to_string(VINO_MAX_ELEMENTS) + " elements)");

    std::vector<unsigned char> onnx;
    VinoStatus status = ReadWholeFile(inPath, onnx, VINO_MAX_FILE_SIZE - VINO_PAYLOAD_OFFSET - 2 * VINO_BLOCK_SIZE);
    if (status != VinoStatus::OK || onnx.empty())
    {
        std::fprintf(stderr, "orvix-vino-pack: %s: %s\n", inPath,
                     onnx.empty() && status == VinoStatus::OK ? "empty file" : VinoStatusText(status));
        return EXIT_FAILED;
    }
    std::string inputShape, outputShape, error;
    if (!TryNetwork(onnx, input, inputShape, outputShape, error))
    {
        std::fprintf(stderr, "orvix-vino-pack: %s: does not run as an ONNX network on %s: %s\n", inPath,
                     DeclarationText(input).c_str(), error.c_str());
        return EXIT_FAILED;
    }

    std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    std::vector<unsigned char> container;
    // The IV is derived from the network's bytes, so packing the same network
    // twice gives the same file and data packs build reproducibly. The
    // container stores the content's digest in the clear anyway, so the IV
    // reveals nothing more; different networks still get different IVs.
    unsigned char contentDigest[VINO_DIGEST_SIZE];
    unsigned char ivDigest[VINO_DIGEST_SIZE];
    const unsigned char* iv = nullptr;
    if (Sha256(onnx.data(), onnx.size(), contentDigest))
    {
        std::vector<unsigned char> seed(contentDigest, contentDigest + VINO_DIGEST_SIZE);
        const char label[] = "ORVXVINO IV";
        seed.insert(seed.end(), label, label + sizeof(label) - 1);
        if (Sha256(seed.data(), seed.size(), ivDigest))
            iv = ivDigest;
    }
    status = PackModel(onnx.data(), onnx.size(), input, key.data(), static_cast<int>(key.size()), container, iv);
    if (status == VinoStatus::OK)
    {
        // Read back what is about to be written before it replaces anything.
        VinoHeader header;
        std::vector<unsigned char> plain;
        status = UnpackModel(container.data(), container.size(), key.data(), static_cast<int>(key.size()), header,
                             plain);
        if (status == VinoStatus::OK && plain != onnx)
            status = VinoStatus::DIGEST_MISMATCH;
        WipeBuffer(plain);
    }
    if (status != VinoStatus::OK)
    {
        std::fprintf(stderr, "orvix-vino-pack: cannot pack %s: %s\n", inPath, VinoStatusText(status));
        return EXIT_FAILED;
    }

    const std::string temporary = std::string(outPath) + ".tmp";
    status = WriteWholeFile(temporary.c_str(), container);
    if (status != VinoStatus::OK || std::rename(temporary.c_str(), outPath) != 0)
    {
        std::fprintf(stderr, "orvix-vino-pack: cannot write %s: %s\n", outPath, std::strerror(errno));
        std::remove(temporary.c_str());
        return EXIT_FAILED;
    }
    std::printf("packed %s -> %s (%zu bytes), input %s, blob %s, output %s\n", inPath, outPath, container.size(),
                DeclarationText(input).c_str(), inputShape.c_str(), outputShape.c_str());
    return EXIT_OK;
}

int Verify(int argc, char** argv)
{
    if (argc != 3)
        return UsageError("verify needs exactly one file");
    const char* path = argv[2];
    std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    VinoHeader header;
    std::vector<unsigned char> onnx;
    const VinoStatus status = ReadModelFile(path, key.data(), static_cast<int>(key.size()), header, onnx);
    if (status != VinoStatus::OK)
    {
        std::fprintf(stderr, "orvix-vino-pack: %s: %s\n", path, VinoStatusText(status));
        return EXIT_FAILED;
    }
    std::string inputShape, outputShape, error;
    const bool runs = TryNetwork(onnx, header.input, inputShape, outputShape, error);
    const size_t onnxSize = onnx.size();
    WipeBuffer(onnx);
    if (!runs)
    {
        std::fprintf(stderr, "orvix-vino-pack: %s: decrypted, but the network does not run on %s: %s\n", path,
                     DeclarationText(header.input).c_str(), error.c_str());
        return EXIT_FAILED;
    }
    std::printf("%s: format version %u, network %zu bytes, padding and checksum ok\n", path, header.version, onnxSize);
    std::printf("input: %s\n", DeclarationText(header.input).c_str());
    std::printf("input shape: %s\n", inputShape.c_str());
    std::printf("output shape: %s\n", outputShape.c_str());
    return EXIT_OK;
}

} // namespace

int main(int argc, char** argv)
{
    // OpenCV's own error lines would repeat what is printed here.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    if (argc < 2)
        return UsageError("missing command");
    const std::string command = argv[1];
    if (command == "-h" || command == "--help")
    {
        PrintUsage(stdout);
        return EXIT_OK;
    }
    if (command == "pack")
        return Pack(argc, argv);
    if (command == "verify")
        return Verify(argc, argv);
    return UsageError("unknown command: " + command);
}
