#include <gtest/gtest.h>

#include <cmath>

#include "player/chapters.hpp"
#include "support/shell_fixture.hpp"

namespace brindlemar::testing {
namespace {

TEST(Chapters, TitlesThatMarkAnOpening) {
    const std::pair<const char*, bool> cases[] = {
        // English and Spanish names, any case, any accents.
        {"Intro", true}, {"INTRO", true}, {"intro", true}, {"Opening", true}, {"OP", true}, {"op", true},
        {"Opening Credits", true}, {"Intro Song", true}, {"Title Sequence", true}, {"Introduction", true},
        {"Introducción", true}, {"INTRODUCCIÓN", true}, {"Introduccion", true}, {"Cabecera", true},
        {"Apertura", true}, {"Créditos iniciales", true}, {"CREDITOS INICIALES", true},
        {"Secuencia de apertura", true}, {"Tema de entrada", true}, {"Canción de apertura", true},
        {"Careta de entrada", true},
        // Numbered openings and numbered chapters, and punctuation around the name.
        {"OP1", true}, {"OP 2", true}, {"op01", true}, {"Opening 2", true}, {"Intro2", true},
        {"01 - Intro", true}, {"3. Cabecera", true}, {"[OP]", true}, {"Intro.", true}, {"  Opening  ", true},
        {"Opening\u00a0Credits", true},  // a no-break space is a space
        // Whole words only, and the whole title.
        {"Introduction to Algebra", false}, {"Introducción a la serie", false}, {"Operation Midnight", false},
        {"Opera", false}, {"Opening Night", false}, {"Intros", false}, {"Optimus", false}, {"Top", false},
        {"Intro Outro", false}, {"Apertura de la caja", false}, {"Cabeceras", false},
        {"Opening 123", false},  // a long number is a name, not a count
        // Other parts of an episode.
        {"Ending", false}, {"ED", false}, {"Outro", false}, {"Créditos finales", false}, {"Prólogo", false},
        {"Resumen", false}, {"Avance", false}, {"Capítulo 1", false}, {"Chapter 3", false},
        {"", false}, {"12", false}, {"---", false}, {"Cold Open", false},
    };
    for (const auto& [title, opening] : cases) EXPECT_EQ(isOpeningTitle(title), opening) << title;
}

TEST(Chapters, ThePositionsChapterAndWhereKeysAndSkipsLead) {
    const std::vector<Chapter> chapters = {{0, "Resumen"}, {30, "Intro"}, {120.5, "Parte 1"}, {900, "Créditos"}};
    const double nan = std::nan("");
    struct Case {
        double position;
        std::optional<std::size_t> chapter;
        std::optional<double> skip;      // "Saltar intro" from there
        std::optional<double> next;      // Page Down
        std::optional<double> previous;  // Page Up
    };
    const Case cases[] = {
        {0, 0, std::nullopt, 30, 0},
        {29.95, 1, 120.5, 120.5, 0},   // a hair before a start (an exact seek there) is in it
        {31, 1, 120.5, 120.5, 0},      // just into it: back to the chapter before
        {100, 1, 120.5, 120.5, 30},    // well into it: back to its start
        {120.5, 2, std::nullopt, 900, 30},
        {1000, 3, std::nullopt, std::nullopt, 900},
        {nan, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        EXPECT_EQ(chapterAt(chapters, c.position), c.chapter);
        EXPECT_EQ(skipIntroTarget(chapters, c.position, 1200.0), c.skip);
        EXPECT_EQ(chapterStepTarget(chapters, c.position, +1), c.next);
        EXPECT_EQ(chapterStepTarget(chapters, c.position, -1), c.previous);
    }

    // Chapters given out of order, one without a usable start, none before the first start.
    const std::vector<Chapter> shuffled = {{600, "Fin"}, {nan, "Roto"}, {10, "Opening"}};
    EXPECT_EQ(chapterAt(shuffled, 5), std::nullopt);
    EXPECT_EQ(chapterStepTarget(shuffled, 5, +1), 10.0);
    EXPECT_EQ(chapterStepTarget(shuffled, 5, -1), std::nullopt);
    EXPECT_EQ(chapterAt(shuffled, 50), 2u);  // the index in the list as given
    EXPECT_EQ(skipIntroTarget(shuffled, 50, std::nullopt), 600.0);
    // An opening that is the last chapter skips to the end, when the end is known.
    const std::vector<Chapter> openingLast = {{0, "Episodio"}, {50, "Intro"}};
    EXPECT_EQ(skipIntroTarget(openingLast, 60, 80.0), 80.0);
    EXPECT_EQ(skipIntroTarget(openingLast, 60, std::nullopt), std::nullopt);
    EXPECT_EQ(skipIntroTarget(openingLast, 60, INFINITY), std::nullopt);
    EXPECT_EQ(chapterAt({}, 10), std::nullopt);
    EXPECT_EQ(chapterStepTarget({}, 10, +1), std::nullopt);
}

class SkipIntroTest : public ReadyShellTest {
protected:
    void SetUp() override {
        ReadyShellTest::SetUp();
        app->startNative(*parseUrl("http://127.0.0.1:47874/media/1"), 0, "Peli", "original", "off");
        player().duration = 1500.0;
        player().chapters = {{0, "Resumen"}, {60, "Opening"}, {150, "Parte 1"}, {1400, "Ending"}};
    }
    PlayerRecord& player() { return platform.lastPlayer(); }
    PlayerViewRecord& view() { return *platform.playerViews.back(); }
    std::vector<std::string> viewCalls() const {
        std::vector<std::string> out;
        for (const auto& call : platform.calls)
            if (call.starts_with("playerView.skipIntro") || call.starts_with("player.seek")) out.push_back(call);
        return out;
    }
};

// The button follows the chapter being played, tick by tick, and is told only of changes.
TEST_F(SkipIntroTest, TheButtonShowsWhileAnOpeningPlays) {
    platform.calls.clear();
    for (double at : {10.0, 59.0, 60.0, 61.0, 149.0, 150.0, 151.0, 65.0, 1401.0})
        platform.tick(player(), at);
    EXPECT_EQ(viewCalls(), (std::vector<std::string>{"playerView.skipIntro yes", "playerView.skipIntro no",
                                                     "playerView.skipIntro yes", "playerView.skipIntro no"}));
    // Chapters that become known while the opening plays bring the button then.
    app->startNative(*parseUrl("http://127.0.0.1:47874/media/2"), 0, "Otra", "original", "off");
    platform.calls.clear();
    platform.tick(player(), 70.0);
    player().chapters = {{0, "Intro"}, {90, "Parte 1"}};
    platform.tick(player(), 71.0);
    EXPECT_EQ(viewCalls(), std::vector<std::string>{"playerView.skipIntro yes"});
}

TEST_F(SkipIntroTest, SkippingGoesToTheNextChapter) {
    platform.tick(player(), 70.0);
    ASSERT_TRUE(view().skipIntroVisible);
    platform.calls.clear();
    view().events.skipIntro();
    EXPECT_EQ(viewCalls(), (std::vector<std::string>{"player.seek 90000/600", "playerView.skipIntro no"}));
    // Pressed again before progress shows the new place: the same place, no new call to the view.
    platform.calls.clear();
    view().events.skipIntro();
    EXPECT_EQ(viewCalls(), std::vector<std::string>{"player.seek 90000/600"});
    // Outside an opening it does nothing.
    platform.tick(player(), 151.0);
    platform.calls.clear();
    view().events.skipIntro();
    EXPECT_EQ(viewCalls(), std::vector<std::string>{});
}

}  // namespace
}  // namespace brindlemar::testing
