#include "app/PortStack.h"

#include "hw/DirectPortIo.h"
#include "hw/sim/SimOptions.h"

namespace kalvor {

std::unique_ptr<PortStack> PortStack::create(const QString* simulateOptions, const QString& traceFile, QString* why)
{
    std::unique_ptr<PortStack> stack(new PortStack);
    if (simulateOptions) {
        const sim::SimOptionsParse parsed = sim::parseSimOptions(*simulateOptions);
        if (!parsed.ok()) {
            *why = QStringLiteral("kalvor: --simulate: %1").arg(parsed.error);
            return nullptr;
        }
        auto card = std::make_unique<sim::SimulatedCard>();
        sim::applySimOptions(parsed.options, *card);
        stack->simulator_ = card.get();
        stack->backend_ = std::move(card);
    } else {
        auto direct = DirectPortIo::open(why);
        if (!direct)
            return nullptr;
        QString dropWhy;
        if (!dropPrivileges(&dropWhy)) {
            *why = QStringLiteral("KALVOR will not run with more privileges than it needs: %1").arg(dropWhy);
            return nullptr;
        }
        stack->backend_ = std::move(direct);
    }
    PortIo* top = stack->backend_.get();
    if (!traceFile.isEmpty()) {
        stack->trace_ = std::make_unique<TracingPortIo>(*top, traceFile.toStdString());
        if (!stack->trace_->ok()) {
            *why = QStringLiteral("kalvor: cannot write the port trace file %1").arg(traceFile);
            return nullptr;
        }
        top = stack->trace_.get();
    }
    stack->safe_ = std::make_unique<SafePortIo>(*top);
    return stack;
}

} // namespace kalvor
