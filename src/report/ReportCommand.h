#pragma once
// kalvor-batch report --batch NAME --pdf FILE: the batch's report as a PDF,
// recorded in the store. The program adds it to its commands at start
// (addSubcommand); it runs under a QGuiApplication on the offscreen platform.
#include "batch/Subcommand.h"

namespace kalvor::report {

int runReport(const QStringList& arguments, QTextStream& out, QTextStream& err);
batch::Subcommand reportCommand();

} // namespace kalvor::report
