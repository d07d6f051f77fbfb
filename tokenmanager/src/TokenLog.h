// Log lines of the token classes: nothing is written when the logger could not be created.
#pragma once

#include "Logger.h"

#define TOKEN_FATAL(logger, ...)                           \
    do {                                                   \
        if (Logger* l_ = (logger)) l_->fatal(__VA_ARGS__); \
    } while (0)
#define TOKEN_INFO(logger, ...)                           \
    do {                                                  \
        if (Logger* l_ = (logger)) l_->info(__VA_ARGS__); \
    } while (0)
#define TOKEN_DEBUG(logger, ...)                           \
    do {                                                   \
        if (Logger* l_ = (logger)) l_->debug(__VA_ARGS__); \
    } while (0)
