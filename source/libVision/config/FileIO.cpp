#include "config/FileIO.h"

#include <algorithm>
#include <cstdio>
#include <locale>
#include <sstream>
#include <vector>

namespace OrvixSDK {

namespace {

// Marks a scratch value that the file did not overwrite.
const int kUnsetMarker = -1000;

bool isBlank(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Position right after the first occurrence of key in text, or npos.
size_t findValueStart(const std::string& text, const std::string& key)
{
    if (key.empty())
        return std::string::npos;
    const size_t at = text.find(key);
    if (at == std::string::npos)
        return std::string::npos;
    return at + key.size();
}

// Finds key and extracts count values of type T after it, one after the
// other, with stream semantics: a failed extraction stores 0 (numbers) and
// stops every later extraction, which leaves those values unchanged; the end
// of the text leaves the value unchanged.
template <typename T>
bool readValues(const std::string& text, const std::string& key, T* values, size_t count)
{
    const size_t start = findValueStart(text, key);
    if (start == std::string::npos)
        return false;
    std::istringstream in(text.substr(start));
    in.imbue(std::locale::classic());
    for (size_t i = 0; i < count; ++i)
        in >> values[i];
    return true;
}

// Number of elements a list lookup may write into m, or -1 when m is not a
// single-channel matrix of the given element type.
int listLength(const CvMat* m, int type)
{
    if (m == nullptr || m->data.ptr == nullptr || CV_MAT_TYPE(m->type) != type || m->rows <= 0 || m->cols <= 0)
        return -1;
    return m->rows;
}

template <typename Element>
Element& columnZero(CvMat* m, int row)
{
    return *reinterpret_cast<Element*>(m->data.ptr + static_cast<size_t>(row) * m->step);
}

// Reads a list of Value after key into column 0 of m, whose elements are
// Element.  The list is read into a copy of the column so that the stream
// semantics (unchanged values after a failure or the end of the text) carry
// over.  False for a missing key or a matrix of another type.
template <typename Value, typename Element>
bool readColumn(const std::string& text, const std::string& key, CvMat* m, int type)
{
    const int rows = listLength(m, type);
    if (rows < 0)
        return false;
    std::vector<Value> values(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i)
        values[i] = static_cast<Value>(columnZero<Element>(m, i));
    if (!readValues(text, key, values.data(), values.size()))
        return false;
    for (int i = 0; i < rows; ++i)
        columnZero<Element>(m, i) = static_cast<Element>(values[i]);
    return true;
}

}  // namespace

std::string FileIO::read_file(const std::string& name, const char* folder, bool)
{
    const std::string path = std::string(folder != nullptr ? folder : "") + name;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::printf("Error opening file %s.\n", name.c_str());
        return "";
    }

    std::string text;
    int c = EOF;
    while (text.size() < kMaxTextLength) {
        c = std::fgetc(file);
        if (c == EOF || c == 0 || c == 0xFF)
            break;
        text.push_back(static_cast<char>(c));
    }

    if (text.size() == kMaxTextLength) {
        // The cap was reached: see whether the file goes on.
        const int next = std::fgetc(file);
        if (next != EOF && next != 0 && next != 0xFF) {
            // A word that runs across the cap would be read cut short (a
            // number with digits missing, a path with its tail missing):
            // drop it, so that the setting reads as absent instead.
            if (!isBlank(next)) {
                size_t end = text.size();
                while (end > 0 && !isBlank(static_cast<unsigned char>(text[end - 1])))
                    --end;
                text.erase(end);
            }
            std::printf("Warning: %s is longer than %u characters; the rest is ignored.\n", name.c_str(),
                        static_cast<unsigned>(kMaxTextLength));
        }
    }

    std::fclose(file);
    return text;
}

bool FileIO::write_file(const std::string& text, const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

bool FileIO::read_setting(const std::string& text, std::string key, unsigned& value)
{
    return readValues(text, key, &value, 1);
}

bool FileIO::read_setting(const std::string& text, std::string key, float& value)
{
    return readValues(text, key, &value, 1);
}

bool FileIO::read_setting(const std::string& text, std::string key, std::string& value)
{
    return readValues(text, key, &value, 1);
}

bool FileIO::read_settings_list_f32(const std::string& text, std::string key, CvMat* m)
{
    return readColumn<float, float>(text, key, m, CV_32FC1);
}

bool FileIO::read_settings_list_iu32(const std::string& text, std::string key, CvMat* m)
{
    return readColumn<unsigned, int>(text, key, m, CV_32SC1);
}

bool FileIO::read_settings_list_string(const std::string& text, std::string key, int count, std::string* out)
{
    if (out == nullptr || count <= 0)
        return findValueStart(text, key) != std::string::npos;
    return readValues(text, key, out, static_cast<size_t>(count));
}

void FileIO::read_setting_array(const std::string& text, std::string name, unsigned count, int* values)
{
    if (values == nullptr)
        return;
    for (unsigned i = 0; i < count; ++i) {
        const std::string key = name + "[" + std::to_string(i) + "]";
        unsigned scratch = static_cast<unsigned>(kUnsetMarker);
        read_setting(text, key, scratch);
        if (scratch != static_cast<unsigned>(kUnsetMarker))
            values[i] = static_cast<int>(scratch);
        else
            values[i] = i > 0 ? values[0] : 0;
    }
}

void FileIO::read_setting_array(const std::string& text, std::string name, unsigned entries, unsigned width,
                                float* values, int copyFirst)
{
    if (values == nullptr || width == 0)
        return;
    // Values that a present entry does not give stay 0 instead of whatever
    // the scratch held before.
    std::vector<float> scratch(width);
    for (unsigned i = 0; i < entries; ++i) {
        const std::string key = name + "[" + std::to_string(i) + "]";
        std::fill(scratch.begin(), scratch.end(), 0.0f);
        scratch[0] = static_cast<float>(kUnsetMarker);
        readValues(text, key, scratch.data(), scratch.size());

        float* entry = values + static_cast<size_t>(i) * width;
        for (unsigned k = 0; k < width; ++k) {
            if (scratch[0] != static_cast<float>(kUnsetMarker))
                entry[k] = scratch[k];
            else if (i > 0 && copyFirst == 1)
                entry[k] = values[k];
            else
                entry[k] = 0.0f;
        }
    }
}

}  // namespace OrvixSDK
