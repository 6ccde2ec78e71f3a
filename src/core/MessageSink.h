#pragma once
// showMessage: the one way the program shows a message. In the program it is a
// modal box titled "KALVOR" with one OK button; --check sends messages to
// standard error; tests install a recorder.
#include <QString>
#include <QStringList>
#include <functional>

namespace kalvor {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Returns when the user has closed the message.
    virtual void showMessage(const QString& text) = 0;
};

// Installs the sink used by showMessage; returns the previous one.
MessageSink* setMessageSink(MessageSink* sink);
MessageSink* messageSink();

void showMessage(const QString& text);

// Writes each message as one line to standard error.
class StderrMessageSink : public MessageSink {
public:
    void showMessage(const QString& text) override;
};

// Keeps every message shown, for tests. An optional hook runs while the
// "box" is open, as a user's actions would.
class RecordingMessageSink : public MessageSink {
public:
    RecordingMessageSink();
    ~RecordingMessageSink() override;
    void showMessage(const QString& text) override;
    QStringList messages;
    std::function<void(const QString&)> onShow;

private:
    MessageSink* previous_ = nullptr;
};

} // namespace kalvor
