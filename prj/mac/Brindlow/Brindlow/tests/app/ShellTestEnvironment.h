// The folders that the test runner of the delegate made and pointed the environment at.
#pragma once

#include "ShellTestSupport.h"

namespace brindlow::apptest {

AppFolders& testFolders();

}  // namespace brindlow::apptest
