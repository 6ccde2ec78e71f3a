#pragma once
// SIGTERM, SIGINT and SIGHUP delivered to the event loop as a Qt signal, so
// they take the same orderly road as File > Exit.
#include <QObject>

class QSocketNotifier;

namespace kalvor {

class UnixSignals : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

signals:
    void terminationRequested(int signal);

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kalvor
