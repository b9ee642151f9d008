// The cost of the one-second tick's render(): once when the title text stays the same (most
// calls within a second, and the tooltip-only path), once when the countdown moves on.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "model/clock.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"

namespace {

using orvela::App;
using orvela::PomodoroState;
using orvela::TitlePart;

// Keeps only the latest title and tooltip, as a desktop adapter would, so that a long run does
// not measure the growth of a recording.
class LatestOnlyItem final : public orvela::StatusItem {
public:
    bool hasButton() const override { return true; }
    void setTitle(const std::vector<TitlePart>& parts) override {
        title = parts;
        ++redraws;
    }
    void setTooltip(const std::string& text) override { tooltip = text; }
    void setCountdown(const std::optional<orvela::Countdown>& value) override { countdown = value; }
    void setMenuDelegate(orvela::MenuDelegate*) override {}
    void setMiddleClickHandler(std::function<void()>) override {}

    std::vector<TitlePart> title;
    std::string tooltip;
    std::optional<orvela::Countdown> countdown;
    std::int64_t redraws = 0;
};

// A work phase long enough that the countdown never runs out during a run, with a title long
// enough to be cut.
PomodoroState longTimer() {
    return PomodoroState{1,
                         "Подготовить квартальный отчёт для совета директоров",
                         {{"work", 1e9}, {"rest", 5}},
                         orvela::nowMs(),
                         {}};
}

void RenderSameText(benchmark::State& run) {
    orvela::test::FakePlatform fake;
    App app{fake};
    LatestOnlyItem item;
    app.item = &item;
    app.state = longTimer();
    app.render();
    for (auto _ : run) {
        app.render();
        benchmark::DoNotOptimize(item.tooltip.data());
    }
    if (item.redraws != 1) run.SkipWithError("the title was redrawn although its text stayed");
}
BENCHMARK(RenderSameText);

void RenderNewSecond(benchmark::State& run) {
    orvela::test::FakePlatform fake;
    App app{fake};
    LatestOnlyItem item;
    app.item = &item;
    app.state = longTimer();
    app.render();
    for (auto _ : run) {
        fake.advance(1);
        app.render();
        benchmark::DoNotOptimize(item.title.data());
    }
    if (item.redraws != static_cast<std::int64_t>(run.iterations()) + 1)
        run.SkipWithError("the title was not redrawn on every new second");
}
BENCHMARK(RenderNewSecond);

}  // namespace

BENCHMARK_MAIN();
