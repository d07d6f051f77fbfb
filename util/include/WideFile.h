// Wide (32-bit character) paths and the file writes the installer relies on.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// UTF-32 to UTF-8, independent of the C locale. "" when a character is no Unicode scalar value.
std::string wstringToString(const std::wstring& text);

// UTF-8 to UTF-32, independent of the C locale. "" when the bytes are not UTF-8.
std::wstring stringToWstring(const std::string& text);

// fopen with a wide path and mode ("rb", "wb"); null when either does not convert.
FILE* wfopen(const wchar_t* path, const wchar_t* mode);

// Replaces the file at path with the bytes: written to a temporary file beside it, flushed to
// disk and renamed over it, so a failed write never leaves a truncated file behind. 0 when done;
// -1 when the file cannot be created, -2 when writing, flushing, closing or the rename failed;
// on failure the file at path is as it was.
int replaceFileContents(const std::string& path, const unsigned char* data, size_t size);
