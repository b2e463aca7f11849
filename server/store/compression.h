// zstd frames for the stored attachments and long texts.
#pragma once

#include <string>

// A zstd frame of bytes, at a level fast enough for the upload path.
std::string CompressBytes(const std::string& bytes);

// The bytes of one zstd frame; false with error when it is not one.
bool DecompressBytes(const std::string& frame, std::string& bytes, std::string& error);
