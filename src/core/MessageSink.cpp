#include "core/MessageSink.h"

#include "core/PrintableText.h"

#include <cstdio>

namespace kalvor {

namespace {
StderrMessageSink g_stderrSink;
MessageSink* g_sink = &g_stderrSink;
} // namespace

MessageSink* setMessageSink(MessageSink* sink)
{
    MessageSink* previous = g_sink;
    g_sink = sink ? sink : &g_stderrSink;
    return previous;
}

MessageSink* messageSink() { return g_sink; }

void showMessage(const QString& text) { g_sink->showMessage(text); }

void StderrMessageSink::showMessage(const QString& text)
{
    std::fprintf(stderr, "KALVOR: %s\n", terminalText(text).toLocal8Bit().constData());
    std::fflush(stderr);
}

RecordingMessageSink::RecordingMessageSink() : previous_(setMessageSink(this)) {}

RecordingMessageSink::~RecordingMessageSink() { setMessageSink(previous_); }

void RecordingMessageSink::showMessage(const QString& text)
{
    messages.append(text);
    if (onShow)
        onShow(text);
}

} // namespace kalvor
