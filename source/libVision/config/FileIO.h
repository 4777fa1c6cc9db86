#ifndef ORVIX_CONFIG_FILEIO_H
#define ORVIX_CONFIG_FILEIO_H

#include <cstddef>
#include <string>

#include <opencv2/core/types_c.h>

namespace OrvixSDK {

// Reads settings files into memory and looks values up in them by key.
//
// The format is free text.  A key is found wherever its characters first
// occur in the text (also as the tail of a longer word), and its value is
// whatever follows, separated by white space.  There are no comments,
// sections or quotes; a file must not mention a key before the key itself.
//
// Values are read with classic-locale stream extraction:
//  - text that is not a number where a number is expected reads as 0, the
//    lookup still reports the key present, and the later values of the same
//    lookup are left unchanged;
//  - when the text ends before a value, that value and all later ones are
//    left unchanged;
//  - nothing checks what follows the last value.
class FileIO {
public:
    // Longest text read from a file, in characters.
    static constexpr size_t kMaxTextLength = 32766;

    // Opens folder + name (a null folder counts as "") and returns its text:
    // at most kMaxTextLength characters, ending early at a NUL or 0xFF byte.
    // A file that cannot be opened prints "Error opening file <name>." and
    // gives "".  When the file is longer than the cap, a word cut by the cap
    // is dropped (so that "0.125" never reads as "0.1") and a one-line
    // warning is printed.  The bool is accepted for compatibility and ignored.
    static std::string read_file(const std::string& name, const char* folder, bool unused = false);

    // Writes text to path, replacing the file.  Returns false when the file
    // cannot be written.
    static bool write_file(const std::string& text, const std::string& path);

    // Looks key up and extracts one value after it.  Returns false and leaves
    // value unchanged when the key is absent (an empty key is never found).
    static bool read_setting(const std::string& text, std::string key, unsigned& value);
    static bool read_setting(const std::string& text, std::string key, float& value);
    static bool read_setting(const std::string& text, std::string key, std::string& value);

    // Reads as many values as m has rows into column 0 of m.  m must be a
    // single-channel 32-bit float (f32) or 32-bit integer (iu32, read as
    // unsigned) matrix; any other matrix, or none, is left alone and gives
    // false.  Returns whether the key was found.
    static bool read_settings_list_f32(const std::string& text, std::string key, CvMat* m);
    static bool read_settings_list_iu32(const std::string& text, std::string key, CvMat* m);

    // Reads count words into out[0 .. count-1].  Words are read without
    // regard to keys: a key that follows too few words becomes a word.
    static bool read_settings_list_string(const std::string& text, std::string key, int count, std::string* out);

    // Indexed settings "name[0]", "name[1]", ...: values[i] <- the unsigned
    // value of name[i]; a missing entry takes values[0] (0 for entry 0).
    // A value that reads as -1000 counts as missing.
    static void read_setting_array(const std::string& text, std::string name, unsigned count, int* values);

    // Indexed settings of width floats each: values[i*width .. i*width+width-1]
    // <- the floats after name[i].  A missing entry (or one whose first value
    // reads as -1000) takes entry 0 when i > 0 and copyFirst is 1, else zeros.
    // Values missing at the end of a present entry are 0.
    static void read_setting_array(const std::string& text, std::string name, unsigned entries, unsigned width,
                                   float* values, int copyFirst);
};

}  // namespace OrvixSDK

#endif
