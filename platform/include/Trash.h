// The user's Trash, in the freedesktop.org layout: files/ and info/ with .trashinfo records.
#pragma once

#include <string>

namespace brindlow::platform {

// $XDG_DATA_HOME/Trash, or ~/.local/share/Trash.
std::string homeTrashFolder();

// Moves path (a file or a whole folder) into the Trash with its .trashinfo record: the home
// Trash when it is on the same file system, else "<top folder of that file system>/.Trash-<uid>".
// When the folder holding path cannot be written and the process is not root, the move runs
// with administrator rights (pkexec). The name it got in the Trash's "files" folder goes to
// trashedName when given. False with the reason in error on failure; path is then untouched.
bool moveToTrash(const std::string& path, std::string* trashedName, std::string* error);

}  // namespace brindlow::platform
