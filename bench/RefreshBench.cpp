// refresh_bench: the main window on the offscreen platform, logged in as the
// demo agent against the development server (demo data, loopback): from a
// click on "刷新" to the grid holding page 1 (30 rows) and painted.
#include "BenchProcess.h"
#include "UnitAdminLogin.h"
#include "UnitStuList.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QTimer>
#include <QWindow>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

// Counts the paints of the watched widget.
class TPaintCounter : public QObject {
public:
    std::int64_t Paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++Paints;
        return QObject::eventFilter(watched, event);
    }
};

void RefreshToPaint(benchmark::State& state, TFormStuList& window) {
    TPaintCounter counter;
    QWidget* viewport = window.DBGridDB->viewport();
    viewport->installEventFilter(&counter);
    for (auto _ : state) {
        window.BtnStuList->click();
        viewport->repaint();
    }
    viewport->removeEventFilter(&counter);
    const int rows = window.DataSource1.rowCount();
    state.counters["rows"] = rows;
    if (rows != 30)
        state.SkipWithError("the grid does not hold 30 rows");
    else if (counter.Paints < state.iterations())
        state.SkipWithError("the grid was not painted on every refresh");
}

} // namespace

int main(int argc, char* argv[]) try {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    std::string address;
    // This program carries no version note: the server offers no update to
    // a client of version 0.0.0.0.
    const auto server = benchproc::StartDemoServer(TARVO_DEVSERVER_PATH, 0, address,
                                                   {"--latest-version", "0.0.0.0"});
    const std::string url = "http://" + address;

    TFormStuList window;
    window.FServerUrl = url;
    TFormAdminLogin& login = window.LoginDialog();
    login.FServerUrl = url;
    // The login dialog runs modally while the window is shown: fill it in
    // and press the button once it is up.
    QTimer::singleShot(0, &login, [&login] {
        login.findChild<QLineEdit*>(QStringLiteral("EditUserName"))
            ->setText(QStringLiteral("13800138000"));
        login.findChild<QLineEdit*>(QStringLiteral("EditPassword"))
            ->setText(QStringLiteral("tarvo123"));
        login.ButtonLoginClick();
    });
    window.show();
    // Paints reach the window once the platform has exposed it.
    QDeadlineTimer exposed(10000);
    while (!window.windowHandle()->isExposed() && !exposed.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (window.FGUID.size() != 36 || window.DataSource1.rowCount() != 30 ||
        !window.windowHandle()->isExposed()) {
        std::fprintf(stderr, "refresh_bench: the demo agent's first page did not load\n");
        return 1;
    }

    benchmark::RegisterBenchmark(
        "RefreshToPaint", [&window](benchmark::State& state) { RefreshToPaint(state, window); })
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "refresh_bench: %s\n", e.what());
    return 1;
}
