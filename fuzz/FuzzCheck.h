#pragma once
// Shared by the fuzz targets: a check that stops the run with a message (the
// abort makes libFuzzer save the input), and a message sink that drops every
// message so parsers that report to the user can run unattended.
#include "core/MessageSink.h"

#include <QString>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,      \
                         #condition);                                                  \
            std::abort();                                                              \
        }                                                                              \
    } while (false)

namespace kalvor::fuzz {

class DiscardingMessageSink : public MessageSink {
public:
    void showMessage(const QString&) override { ++shown; }
    int shown = 0;
};

} // namespace kalvor::fuzz
