#include "app/PortStack.h"

#include "app/ProgramEnd.h"
#include "hw/DirectPortIo.h"
#include "hw/sim/SimOptions.h"

#include <QFile>
#include <cstdio>

namespace kalvor {

std::unique_ptr<PortStack> PortStack::create(const QString* simulateOptions, const QString& traceFile, QString* why,
                                             int* status)
{
    std::unique_ptr<PortStack> stack(new PortStack);
    if (simulateOptions) {
        const sim::SimOptionsParse parsed = sim::parseSimOptions(*simulateOptions);
        if (!parsed.ok()) {
            *why = QStringLiteral("kalvor: --simulate: %1").arg(parsed.error);
            *status = exitcode::Usage;
            return nullptr;
        }
        auto card = std::make_unique<sim::SimulatedCard>();
        sim::applySimOptions(parsed.options, *card);
        stack->simulator_ = card.get();
        stack->backend_ = std::move(card);
    } else {
        auto direct = DirectPortIo::open(why);
        if (!direct) {
            *status = exitcode::NoPortAccess;
            return nullptr;
        }
        QString dropWhy;
        if (!dropPrivileges(&dropWhy)) {
            *why = QStringLiteral("KALVOR will not run with more privileges than it needs: %1").arg(dropWhy);
            *status = exitcode::NoPortAccess;
            return nullptr;
        }
        stack->backend_ = std::move(direct);
    }
    PortIo* top = stack->backend_.get();
    if (!traceFile.isEmpty()) {
        stack->trace_ = std::make_unique<TracingPortIo>(*top, QFile::encodeName(traceFile).toStdString());
        if (!stack->trace_->ok()) {
            *why = QStringLiteral("kalvor: cannot write the port trace file %1: %2")
                       .arg(traceFile, stack->trace_->openError());
            *status = exitcode::Usage;
            return nullptr;
        }
        stack->trace_->onWriteFailure = [traceFile](const QString& reason) {
            std::fprintf(stderr,
                         "KALVOR: the port trace %s could not be written completely (%s); it ends here, "
                         "and KALVOR goes on without it.\n",
                         traceFile.toLocal8Bit().constData(), reason.toLocal8Bit().constData());
            std::fflush(stderr);
            noteEndFault(exitcode::TraceIncomplete);
        };
        top = stack->trace_.get();
    }
    stack->safe_ = std::make_unique<SafePortIo>(*top);
    return stack;
}

} // namespace kalvor
