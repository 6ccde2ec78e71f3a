#pragma once
// Every caption and message text of the program, by numeric id, from the
// resource file resources/messages.json.
#include <QString>
#include <QHash>
#include <QList>
#include <optional>

namespace kalvor {

class MessageCatalog {
public:
    // The program's catalogue, loaded once from the resources.
    static const MessageCatalog& instance();

    std::optional<QString> find(int id) const;
    QList<int> ids() const;

private:
    MessageCatalog();
    QHash<int, QString> texts_;
};

// The text of a catalogue id. An id that is not in the catalogue is a
// programming error: the program stops with a report naming the id.
QString loadText(int id);

} // namespace kalvor
