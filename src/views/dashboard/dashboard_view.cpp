#include "views/dashboard/dashboard_view.h"

#include "views/dashboard/dashboard_widgets.h"
#include "views/dashboard/ollama_report_generator.h"
#include "views/dashboard/sessions_lens.h"
#include "views/dashboard/today_lens.h"
#include "views/dashboard/trace_lens.h"
#include "views/dashboard_view_model.h"
#include "views/sessions_view_model.h"
#include "views/trace_view_model.h"

#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

namespace perchwell {

DashboardView::DashboardView(WorkflowStore& store, SettingsStore* settings, std::string traceRoot,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), dashboard_(std::make_unique<DashboardViewModel>(store)),
      sessions_(std::make_unique<SessionsViewModel>(store)),
      trace_(std::make_unique<TraceViewModel>(std::move(traceRoot))) {
    dashboard_->setReportGeneratorFactory(OllamaReportGenerator::factory());
    setObjectName(QStringLiteral("dashboardRoot"));
    setWindowTitle(QStringLiteral("Receipts"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(DashboardWidgets::styleSheet());
    resize(720, 800);
    setMinimumSize(560, 480);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 12, 0, 0);
    layout->setSpacing(4);
    tabs_ = new QTabBar;
    tabs_->setExpanding(false);
    tabs_->setDrawBase(false);
    tabs_->setUsesScrollButtons(false);
    for (const char* title : {"Today", "Sessions", "Trace"}) {
        tabs_->addTab(QString::fromUtf8(title));
    }
    layout->addWidget(tabs_, 0, Qt::AlignHCenter);
    stack_ = new QStackedWidget;
    todayLens_ = new TodayLens(*dashboard_, settings);
    sessionsLens_ = new SessionsLens(*sessions_);
    traceLens_ = new TraceLens(*trace_);
    stack_->addWidget(todayLens_);
    stack_->addWidget(sessionsLens_);
    stack_->addWidget(traceLens_);
    layout->addWidget(stack_, 1);
    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) { showLens(static_cast<Lens>(index)); });

    debounce_.setSingleShot(true);
    debounce_.setInterval(debounceMs);
    connect(&debounce_, &QTimer::timeout, this, &DashboardView::reloadShownLens);
}

DashboardView::~DashboardView() {
    // The lenses hold the models by reference: they go first.
    delete stack_;
}

void DashboardView::showLens(Lens lens) {
    const int index = static_cast<int>(lens);
    lens_ = lens;
    if (tabs_->currentIndex() != index) {
        const QSignalBlocker quiet(tabs_);
        tabs_->setCurrentIndex(index);
    }
    stack_->setCurrentIndex(index);
    if (isVisible()) {
        reloadShownLens();
    }
}

void DashboardView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reloadShownLens();
}

void DashboardView::storeChanged() {
    if (isVisible() && !debounce_.isActive()) {
        debounce_.start();
    }
}

void DashboardView::reloadShownLens() {
    switch (lens_) {
    case Lens::today:
        todayLens_->shown();
        break;
    case Lens::sessions:
        sessionsLens_->shown();
        break;
    case Lens::trace:
        traceLens_->shown();
        break;
    }
}

} // namespace perchwell
