// The benchmark executables' entry: a Qt core application (the link service
// and the reader's timers need an event dispatcher), then Google Benchmark.
#include <QCoreApplication>
#include <QLoggingCategory>
#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    // Each benchmark starts a link service; its start-up notes are not figures.
    QLoggingCategory::setFilterRules(QStringLiteral("kalvor.link.info=false"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
