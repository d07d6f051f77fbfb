// Copy of the authorities' certificates from the installer's bundle into the user's NPKI folder.
#pragma once

#include <string>

// Copies every intermediate authority's certificate of the table (the KISA roots wait for the
// user's confirmation) from source to target, both folders ending in "/". Every row is tried;
// true when any part failed.
bool CopyNPKIFiles(const std::wstring& source, const std::wstring& target);

// Copies one file of 1 to 10239 bytes; the target is created or replaced whole, or left as it
// was. True when the copy was written and closed without an error.
bool CopyFileByPath(const std::wstring& source, const std::wstring& target);

// True when something exists at path afterwards. Missing parent folders are created too
// (owner-only), so a fresh home gets its whole NPKI tree.
bool MakeDirectory(const std::wstring& path);
