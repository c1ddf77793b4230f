#pragma once
// Test pictures as PNG files, so that a person can look at what a test drew or captured.
#include <cstdint>
#include <string>

namespace testsupport {

// Writes width x height pixels (rows top to bottom, blue in the low byte, alpha ignored) as an RGB PNG;
// false when the file cannot be written.
bool WritePng(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height);
// The folder where tests leave their pictures: "pictures" beside the test program, created on demand,
// ending in a separator.
std::string PictureFolder();

}  // namespace testsupport
