#include "LoggerManagerMac.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "Logger.h"

namespace {

constexpr unsigned kCleanInterval = 3600;  // seconds

}  // namespace

void LoggerManagerMac() {
    std::puts("LoggerManagerMac");
    std::puts("pthread_create");
    pthread_t thread;
    const int error = pthread_create(&thread, nullptr, ThreadFunctionLog, nullptr);
    if (error != 0) {
        std::printf("\ncan't create thread :[%s]", std::strerror(error));
        std::fflush(stdout);
        return;
    }
    // Nobody joins it: it ends with the process.
    pthread_detach(thread);
    std::puts("\n Thread created successfully");
    std::fflush(stdout);
}

void* ThreadFunctionLog(void*) {
    std::puts("스레드 실행 중");
    std::fflush(stdout);
    for (int hours = 1;; ++hours) {
        Logger::cleanLog();
        std::fflush(stdout);
        // sleep() may return early on a signal; the hour is still waited out in full.
        for (unsigned left = kCleanInterval; left > 0;) left = sleep(left);
        std::printf("Count : %dhour\n", hours);
    }
    return nullptr;
}
