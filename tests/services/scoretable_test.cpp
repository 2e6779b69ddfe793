#include "services/scoretable.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "media/graphics.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "services/datetext.h"
#include "services/drawlog.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "tests/support/headless.h"

namespace {
const std::string FontFile = std::string(WORMLOB_SOURCE_DIR) + "/Files/Common/Plainhand.ttf";

ScoreRef Add(int64_t score, int64_t ts, const std::string& name, int mode = 1) {
    auto r = std::make_shared<Scores>();
    r->Score = score;
    r->Timestamp = ts;
    r->Name = name;
    r->GameMode = mode;
    ScoreList.push_back(r);
    return r;
}

int Count(const std::vector<DrawCall>& calls, char kind) {
    return (int)std::count_if(calls.begin(), calls.end(), [&](const DrawCall& c) { return c.kind == kind; });
}

std::vector<DrawCall> Of(const std::vector<DrawCall>& calls, char kind) {
    std::vector<DrawCall> out;
    for (auto& c : calls)
        if (c.kind == kind) out.push_back(c);
    return out;
}

const DrawCall* FindText(const std::vector<DrawCall>& calls, const std::string& text) {
    for (auto& c : calls)
        if (c.kind == 'T' && c.text == text) return &c;
    return nullptr;
}
}  // namespace

class Table : public ::testing::Test {
protected:
    std::vector<DrawCall> calls;
    int VW = 1280, VH = 960, X0 = 1280 - 10 - 320;
    void SetUp() override {
        ASSERT_TRUE(OpenHeadlessDisplay());
        // Distinct fonts per slot, so the recorder can tell which is used.
        for (int i = 1; i <= 6; i++) Fonts[i] = LoadImageFont(FontFile, 10 + i, 0);
        IconSheetSmooth = CreateBlankImage(16, 16, 64, 0);
        ResetInputTables();
        ScoreList.clear();
        ResetScoreView();
        FrameMouseX = FrameMouseY = 0;
        SetDrawRecorder(&calls);
    }
    void TearDown() override {
        SetDrawRecorder(nullptr);
        for (auto& f : Fonts) f.reset();
        IconSheetSmooth.reset();
        PickedRecord.reset();
        ScoreList.clear();
        CloseDisplay();
    }
    void Draw(int mode = 1, int a = 320) {
        calls.clear();
        DrawScoreTable(a, mode, 0, 0);
    }
    static void Button(bool down) {
        InputEvent e{down ? INPUT_MOUSE_DOWN : INPUT_MOUSE_UP};
        e.code = 1;
        PostInputEvent(e);
    }
};

TEST_F(Table, EmptyListDrawsTheFrameAndSeparatorOnly) {
    ASSERT_TRUE(Fonts[3] && Fonts[1] != Fonts[3]) << "font " << FontFile;
    Add(100, 5, "other mode", 0);
    Draw();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, 'R');
    EXPECT_EQ(calls[0].x, X0 - 2);
    EXPECT_EQ(calls[0].y, VH - 436);
    EXPECT_EQ(calls[0].w, 330);
    EXPECT_EQ(calls[0].h, 430);
    EXPECT_EQ(calls[0].r + calls[0].g + calls[0].b, 510);
    EXPECT_FLOAT_EQ(calls[0].alpha, 0.6f);
    EXPECT_EQ(calls[1].kind, 'R');
    EXPECT_EQ(calls[1].x, X0 + 2);
    EXPECT_EQ(calls[1].w, 322);
    EXPECT_EQ(calls[1].r + calls[1].g + calls[1].b, 0);
    EXPECT_EQ(calls[2].kind, 'L');
    EXPECT_EQ(calls[2].y, VH - 160);
    EXPECT_EQ(calls[2].w, VW - 8);
    EXPECT_EQ(calls[2].b, 80);
    EXPECT_FLOAT_EQ(calls[2].alpha, 1.0f);
    EXPECT_FALSE(PickedRecord);
    EXPECT_EQ(BestScoreShown, 1);
    EXPECT_EQ(ScoreList.size(), 1u);

    // The slide offset moves the whole panel.
    Draw(1, 640);
    EXPECT_EQ(calls[0].x, VW - 10 - 640 - 2);
}

TEST_F(Table, ThirtyGamesRankTwentyFiveShowSixteenAndKeepAll) {
    // Oldest first in time, scores rising: the newest game is the best.
    for (int i = 30; i >= 1; i--) Add(i * 100, 1000 + i, "G" + std::to_string(i));
    Add(999999, 1, "elsewhere", 2);
    Draw();
    EXPECT_EQ(ScoreList.size(), 31u);
    EXPECT_EQ(BestScoreShown, 3000);
    for (int k = 1; k <= 25; k++) {
        ASSERT_TRUE(TopScores[k]);
        EXPECT_EQ(TopScores[k]->Score, (31 - k) * 100);
    }
    // Sixteen rows of name and twelve-digit score, 17 pixels apart.
    auto texts = Of(calls, 'T');
    ASSERT_EQ(texts.size(), 32u);
    EXPECT_EQ(texts[0].text, "G30");
    EXPECT_EQ(texts[0].x, X0 + 4);
    EXPECT_EQ(texts[0].y, VH - 436);
    EXPECT_EQ(texts[0].fontSlot, 3);
    EXPECT_EQ(texts[1].text, "000000003000");
    EXPECT_EQ(texts[1].x, X0 + 324);
    EXPECT_EQ(texts[1].hAlign, 2);
    EXPECT_EQ(texts[31].text, "000000001500");
    EXPECT_EQ(texts[31].y, VH - 436 + 15 * 17);
    EXPECT_FALSE(FindText(calls, "G14"));  // ranked 17th: not shown

    // Timeline: newest at x = VW - 14, then 18 to the left each, while
    // inside the panel's left edge.
    auto sprites = Of(calls, 'S');
    ASSERT_EQ(sprites.size(), 18u);
    EXPECT_EQ(sprites[0].x, VW - 14 - 8);
    EXPECT_EQ(sprites[0].y, VH - 10 - 150 - 8);  // the best reaches 150 up
    EXPECT_EQ(sprites[0].frame, 7);
    EXPECT_EQ(sprites[1].x, VW - 14 - 18 - 8);
    EXPECT_EQ(sprites[1].y, VH - 10 - 2900 * 150 / 3000 - 8);
    EXPECT_GT(sprites.back().x + 8, X0 - 4);
    // One column line per point, one joining line per point after the first.
    EXPECT_EQ(Count(calls, 'L'), 1 + 18 + 17);
    EXPECT_FALSE(PickedRecord);
}

TEST_F(Table, SixtyGamesPruneTheOldestThatCannotRank) {
    Add(5, 1, "easy", 0);
    Add(5, 2, "hard", 2);
    // Newest first in the list; the newest 25 have the best scores.
    for (int i = 60; i >= 1; i--) Add(i, 100 + i, "G" + std::to_string(i));
    SortScoreList();
    Draw();
    EXPECT_EQ(ScoreList.size(), 52u);
    int matching = 0;
    int64_t oldest = INT64_MAX;
    for (auto& r : ScoreList)
        if (r->GameMode == 1) {
            matching++;
            oldest = std::min(oldest, r->Score);
        }
    EXPECT_EQ(matching, 50);
    EXPECT_EQ(oldest, 11);  // games 1..10 gone
    // A second pass has nothing more to prune.
    Draw();
    EXPECT_EQ(ScoreList.size(), 52u);
}

TEST_F(Table, OldGamesThatStillRankAreKept) {
    // 60 games; the five oldest hold the five best scores.
    for (int i = 60; i >= 1; i--) Add(i <= 5 ? 1000 + i : i, 100 + i, "G" + std::to_string(i));
    SortScoreList();
    Draw();
    EXPECT_EQ(ScoreList.size(), 55u);
    for (int i = 1; i <= 5; i++) {
        bool found = false;
        for (auto& r : ScoreList) found |= r->Name == "G" + std::to_string(i);
        EXPECT_TRUE(found) << "G" << i;
    }
    EXPECT_EQ(TopScores[1]->Name, "G5");
}

TEST_F(Table, EqualScoresRankTheNewerHigher) {
    auto older = Add(500, 10, "older");
    auto best = Add(600, 5, "best");
    auto newer = Add(500, 20, "newer");
    SortScoreList();
    Draw();
    EXPECT_EQ(TopScores[1], best);
    EXPECT_EQ(TopScores[2], newer);
    EXPECT_EQ(TopScores[3], older);
    EXPECT_FALSE(TopScores[4]);
}

TEST_F(Table, AllZeroScoresGiveABestOfOne) {
    Add(0, 10, "nil");
    Add(0, 9, "nada");
    Draw();
    EXPECT_EQ(BestScoreShown, 1);
    auto sprites = Of(calls, 'S');
    ASSERT_EQ(sprites.size(), 2u);
    EXPECT_EQ(sprites[0].y, VH - 10 - 8);
    EXPECT_EQ(sprites[1].y, VH - 10 - 8);
}

TEST_F(Table, HugeScoresStayDefined) {
    // The best is kept as the low 32 bits of the score; the height
    // arithmetic never overflows whatever the file held.
    Add((1LL << 32) + 7, 30, "wrap");
    Add(5, 20, "small");
    Add(INT64_MAX, 10, "max");
    Add(INT64_MIN, 5, "min");
    Draw();
    EXPECT_EQ(BestScoreShown, -1);  // low 32 bits of INT64_MAX
    EXPECT_EQ(TopScores[1]->Name, "max");
    EXPECT_EQ(TopScores[4]->Name, "min");
    EXPECT_EQ(TimelineHeight(INT64_MAX, 1), 1000000000);
    EXPECT_EQ(TimelineHeight(INT64_MIN, 1), -1000000000);
    EXPECT_EQ(TimelineHeight(INT64_MAX, -1), -1000000000);
    EXPECT_EQ(TimelineHeight(3000, 3000), 150);
    EXPECT_EQ(TimelineHeight(-100, 3000), -5);
    EXPECT_EQ(TimelineHeight(7, 0), 1050);
    EXPECT_TRUE(FindText(calls, "000000000005"));
}

TEST_F(Table, PointerOverARowShowsAndPinsItsRecord) {
    int64_t ts = MakeTimestampAt("05 Mar 2010", "07:04:09");
    Add(300, ts + 2, "first");
    Add(200, ts + 1, "second_with_a_name_longer_than_24");
    Add(100, ts, "third");
    FrameMouseX = X0 + 50;
    FrameMouseY = VH - 436 + 17 + 5;  // row 2
    Draw();
    ASSERT_EQ(PickedRecord, TopScores[2]);
    EXPECT_EQ(ScorePick, 0);  // not clicked: nothing pinned
    // Row text cut to 24 characters, the detail box shows all of it.
    EXPECT_TRUE(FindText(calls, "second_with_a_name_longe"));
    const DrawCall* name = FindText(calls, "second_with_a_name_longer_than_24");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->x, X0 + 4);
    EXPECT_EQ(name->y, VH - 572);
    EXPECT_EQ(name->fontSlot, 1);
    EXPECT_EQ(name->r, 80);
    const DrawCall* score = FindText(calls, "200");
    ASSERT_TRUE(score);
    EXPECT_EQ(score->x, X0 + 324);
    EXPECT_EQ(score->y, VH - 551);
    EXPECT_EQ(score->hAlign, 2);
    const DrawCall* q = FindText(calls, "?");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->fontSlot, 4);
    EXPECT_EQ(q->vAlign, 1);
    const DrawCall* when = FindText(calls, "05-03-2010, 07:04:10");
    ASSERT_TRUE(when);
    EXPECT_EQ(when->y, VH - 440);
    EXPECT_EQ(when->vAlign, 2);
    EXPECT_EQ(when->fontSlot, 3);
    // Highlight over the row and the white box behind the details.
    bool rowLit = false, box = false;
    for (auto& c : calls) {
        rowLit |= c.kind == 'R' && c.x == X0 + 4 && c.y == VH - 436 + 17 && c.w == 320 && c.h == 17;
        box |= c.kind == 'R' && c.y == VH - 576 && c.h == 140;
    }
    EXPECT_TRUE(rowLit);
    EXPECT_TRUE(box);

    // A click pins row 2; it stays shown after the pointer leaves.
    Button(true);
    Draw();
    EXPECT_EQ(ScorePick, 1002);
    Button(false);
    FrameMouseX = FrameMouseY = 0;
    Draw();
    EXPECT_EQ(PickedRecord, TopScores[2]);
    ResetScoreView();
    Draw();
    EXPECT_FALSE(PickedRecord);
    EXPECT_FALSE(FindText(calls, "?"));
}

TEST_F(Table, TimelineColumnPicksByPosition) {
    Add(300, 3, "newest");
    Add(200, 2, "middle");
    Add(100, 1, "oldest");
    // Second column from the right: x = VW - 14 - 18.
    FrameMouseX = VW - 14 - 18;
    FrameMouseY = VH - 100;
    Button(true);
    Draw();
    Button(false);
    ASSERT_TRUE(PickedRecord);
    EXPECT_EQ(PickedRecord->Name, "middle");
    EXPECT_EQ(ScorePick, 2);
    bool lit = false;
    for (auto& c : calls) lit |= c.kind == 'R' && c.x == VW - 14 - 18 - 9 && c.w == 19 && c.h == 150;
    EXPECT_TRUE(lit);
    // The pin is a position: a newer game shifts another record into it.
    FrameMouseX = FrameMouseY = 0;
    Add(50, 4, "latest");
    SortScoreList();
    Draw();
    ASSERT_TRUE(PickedRecord);
    EXPECT_EQ(PickedRecord->Name, "newest");
}

TEST_F(Table, HoldingThePointerAtEitherEndScrolls) {
    for (int i = 0; i < 40; i++) Add(i, 100 - i, "G");
    FrameMouseX = X0 + 10;
    FrameMouseY = VH - 100;
    for (int i = 0; i < 200; i++) Draw();
    EXPECT_EQ(ScoreScroll, 1000);
    // Scrolled: the newest point has moved 1000 to the right, out of sight,
    // and older games come into view.
    auto sprites = Of(calls, 'S');
    ASSERT_FALSE(sprites.empty());
    EXPECT_LE(sprites[0].x + 8, VW + 306 - 320 + 1000);
    FrameMouseX = X0 + 300;
    Draw();
    EXPECT_EQ(ScoreScroll, 992);
    for (int i = 0; i < 200; i++) Draw();
    EXPECT_EQ(ScoreScroll, 0);
}
