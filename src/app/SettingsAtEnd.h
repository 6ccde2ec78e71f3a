#pragma once
// The settings stored on the way out, and checked: values of this session
// that did not reach the file (read-only folder or file, a file of another
// user, full disk) are named, with the file, on standard error and in a box
// when there is a screen, and the program ends with SettingsNotStored.
#include <QString>

namespace kalvor {

class SettingsStore;

// Returns the report shown, or an empty text when every value was stored.
QString storeSettingsAtEnd(SettingsStore& settings);

// Why the file at `path` could not be written, as far as can be told.
QString settingsWriteProblem(const QString& path);

} // namespace kalvor
