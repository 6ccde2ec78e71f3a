#pragma once
// A client of the link service that keeps itself connected: it waits for the
// KALVOR program, links the items it was given (hot), and when the program
// ends or restarts it says so and connects again. Never blocks: everything
// runs from the event loop.
#include "link/LinkProtocol.h"
#include "link/LinkTopic.h"

#include <QList>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

namespace kalvor::batch {

class LinkSession : public QObject {
    Q_OBJECT
public:
    enum class State {
        Waiting,    // no program answers yet; trying again every half second
        Connected,  // greeted, linked, and every linked item heard once
        Refused,    // something answered but is not a KALVOR link service that will talk to us
    };

    LinkSession(QString socketPath, QList<link::ItemName> items, QObject* parent = nullptr);
    ~LinkSession() override;

    void start();
    void stop();

    State state() const { return state_; }
    // For people: "connected to KALVOR", "waiting for KALVOR (...)".
    QString stateText() const { return stateText_; }
    const QString& socketPath() const { return path_; }
    void setRetryMs(int ms) { retry_.setInterval(ms); }

    // Sends PUT; the answer comes as putDone.
    bool put(const QString& topic, const QString& item, const QString& value);

signals:
    void stateChanged(kalvor::batch::LinkSession::State state, const QString& text);
    // An UPDATE of a linked item; `fresh` for the first one after each
    // (re)connection, which comes before the state turns Connected.
    void itemUpdated(const QString& topic, const QString& item, const kalvor::ItemValue& value, bool fresh);
    // A linked item that the program refused (e.g. an older KALVOR without the topic).
    void linkRefused(const QString& topic, const QString& item, const QString& error);
    void putDone(const QString& topic, const QString& item, bool ok, const QString& error);

private:
    struct Pending {
        link::Command command;
        QString topic;
        QString item;
    };

    void connectNow();
    void onConnected();
    void onReadyRead();
    void onGone(const QString& why, bool refused = false);
    void handleLine(QByteArrayView line);
    void setState(State state, const QString& text);
    void send(const link::Request& request);

    QString path_;
    QList<link::ItemName> items_;
    QLocalSocket* socket_ = nullptr;
    QTimer retry_;
    QTimer greetingTimeout_;
    QByteArray in_;
    bool greeted_ = false;
    bool running_ = false;
    QList<Pending> pending_;
    QSet<QString> freshItems_;
    State state_ = State::Waiting;
    QString stateText_;
};

} // namespace kalvor::batch
