// Stands in for the application in the installer's tests: runs until it is ended.
#include <unistd.h>

int main() {
    for (int i = 0; i < 120; ++i) sleep(1);
    return 0;
}
