#include "services/scoretable.h"

#include <string>

#include "media/system.h"
#include "screens/helpers.h"
#include "services/datetext.h"
#include "services/drawlog.h"
#include "shell/display.h"

ScoreRef TopScores[26];
ScoreRef PickedRecord;
int32_t BestScoreShown = 1;

namespace {
constexpr int RankSlots = 25;
constexpr int RowsShown = 16;
// Matching records past this position of the timeline are pruned unless
// they rank.
constexpr int TimelineKeep = 50;

bool Matches(const Scores& r, int mode, int level, int flags) {
    return r.Level == level && r.GameMode == mode && r.GameFlags == flags;
}

bool Ranked(const ScoreRef& r) {
    for (int k = 1; k <= RankSlots; k++)
        if (TopScores[k] == r) return true;
    return false;
}

void BuildRanking(int mode, int level, int flags) {
    for (auto& slot : TopScores) slot.reset();
    BestScoreShown = 0;
    for (const ScoreRef& r : ScoreList) {
        if (!Matches(*r, mode, level, flags)) continue;
        // Only the low 32 bits are kept (a defined wrap in C++20).
        if (r->Score > BestScoreShown) BestScoreShown = (int32_t)(uint32_t)(uint64_t)r->Score;
        int p = 0;
        for (int k = 1; k <= RankSlots && !p; k++)
            if (TopScores[k] && TopScores[k]->Score < r->Score) p = k;
        for (int k = 1; k <= RankSlots && !p; k++)
            if (!TopScores[k]) p = k;
        if (!p) continue;  // 25 better or equal scores: not ranked
        for (int k = RankSlots; k > p; k--) TopScores[k] = TopScores[k - 1];
        TopScores[p] = r;
    }
    if (BestScoreShown == 0) BestScoreShown = 1;
}

std::string ZeroPadded12(int64_t score) {
    std::string s = "000000000000" + std::to_string(score);
    return s.substr(s.size() - 12);
}
}  // namespace

int64_t TimelineHeight(int64_t score, int32_t best) {
    if (best == 0) best = 1;
    __int128 v = (__int128)score * 150 / best;
    // Hand-edited scores far beyond the best shown would put the point
    // millions of pixels off screen; keep it a sane drawing coordinate.
    constexpr int64_t limit = 1000000000;
    if (v > limit) return limit;
    if (v < -limit) return -limit;
    return (int64_t)v;
}

void DrawScoreTable(int a, int mode, int level, int flags) {
    const int VW = ViewWidth, VH = ViewHeight;
    const int X0 = VW - 10 - a;
    const bool leftDown = MouseIsDown(1) != 0;

    BuildRanking(mode, level, flags);

    // Panel frame and the timeline's top line.
    SetDrawScale(1);
    ResetDrawState();
    SetTint(255, 255, 0, 0.6f);
    LoggedRect((float)(X0 - 2), (float)(VH - 436), 330, 430);
    SetTint(0, 0, 0, 0.6f);
    LoggedRect((float)(X0 + 2), (float)(VH - 432), 322, 422);
    SetTint(0, 0, 80, 1);
    LoggedLine((float)(X0 + 2), (float)(VH - 160), (float)(VW - 8), (float)(VH - 160));

    // Timeline, newest game at the right.
    PickedRecord.reset();
    int64_t prevX = 0, prevY = 0;
    int n = 0;
    int x = VW + 306 - a + ScoreScroll;
    for (auto it = ScoreList.begin(); it != ScoreList.end();) {
        ScoreRef r = *it;
        if (!Matches(*r, mode, level, flags)) {
            ++it;
            continue;
        }
        n++;
        if (n == ScorePick && !PickedRecord) PickedRecord = r;
        bool prune = n > TimelineKeep && !Ranked(r);
        if (x > X0 - 4) {
            int64_t v = TimelineHeight(r->Score, BestScoreShown);
            int64_t y = VH - 10 - v;
            SetTint((float)(255 - v), 255, 80, 1);
            LoggedSprite(IconSheetSmooth, x - 8, (int)(y - 8), 7, 1);
            SetTint(255, (float)(80 + v), 80, 1);
            if (prevY != 0) LoggedLine((float)x, (float)y, (float)prevX, (float)prevY);
            SetTint(0, 0, 0, 0.3f);
            LoggedLine((float)(x - 9), (float)(VH - 160), (float)(x - 9), (float)(VH - 11));
            prevX = x;
            prevY = y;
            if (MouseInRect(x - 9, VH - 160, 19, 150)) {
                PickedRecord = r;
                if (leftDown) ScorePick = n;
            }
            if (PickedRecord == r) {
                SetTint(255, 255, 255, 0.3f);
                LoggedRect((float)(x - 9), (float)(VH - 160), 19, 150);
            }
            x -= 18;
        }
        // Pruned after its point was drawn; PickedRecord keeps it alive for
        // this frame's detail box.
        it = prune ? ScoreList.erase(it) : std::next(it);
        if (PickedRecord == r && leftDown) ScorePick = n;
    }

    // Scrolling by holding the pointer over either end of the timeline.
    if (MouseInRect(X0 - 2, VH - 160, 32, 150) && ScoreScroll < 1000) ScoreScroll += 8;
    if (MouseInRect(X0 + 280, VH - 160, 62, 150) && ScoreScroll > 0) ScoreScroll -= 8;

    // Ranking rows.
    SetImageFont(Fonts[3]);
    for (int k = 1; k <= RowsShown; k++) {
        const ScoreRef& r = TopScores[k];
        if (!r) continue;
        int y = VH - 436 + (k - 1) * 17;
        if (k == ScorePick - 1000 && !PickedRecord) PickedRecord = r;
        SetTint(255, 255, 255, 1);
        if (MouseInRect(X0 + 4, y, 320, 18)) {
            PickedRecord = r;
            if (leftDown) ScorePick = k + 1000;
        }
        LoggedText(X0 + 4, y, r->Name.substr(0, 24), 0, 0);
        LoggedText(X0 + 324, y, ZeroPadded12(r->Score), 2, 0);
        if (PickedRecord == r) {
            SetTint(255, 255, 255, 0.3f);
            LoggedRect((float)(X0 + 4), (float)y, 320, 17);
        }
    }

    // Detail box of the picked record.
    if (PickedRecord) {
        const Scores& r = *PickedRecord;
        SetTint(255, 255, 255, 0.6f);
        LoggedRect((float)(X0 - 2), (float)(VH - 576), 330, 140);
        SetImageFont(Fonts[1]);
        SetTint(80, 80, 0);
        LoggedText(X0 + 4, VH - 572, r.Name, 0, 0);
        SetTint(0, 0, 80);
        LoggedText(X0 + 324, VH - 551, std::to_string(r.Score), 2, 0);
        SetImageFont(Fonts[4]);
        SetTint(0, 80, 0);
        LoggedText(X0 + 4, VH - 526, "?", 0, 1);
        SetTint(0, 0, 0);
        SetImageFont(Fonts[3]);
        LoggedText(X0 + 4, VH - 440,
                   TimestampDateText(r.Timestamp) + ", " + TimestampTimeText(r.Timestamp), 0, 2);
    }
}
