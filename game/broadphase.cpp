#include "game/broadphase.h"

#include <algorithm>
#include <cmath>

#include "game/assets.h"
#include "media/graphics.h"
#include "shell/display.h"

bool GameBroadPhase = true;

namespace {
// Cells of 80 pixels over the screen and a wide border; bodies beyond the
// border share the edge cells, so every query still finds them.
constexpr int Cell = 80;
constexpr int Border = 1040;
int nx = 1, ny = 1;
bool active = false;

std::vector<std::vector<Mushroom*>> mushCells;
std::vector<std::vector<int>> podCells;
std::vector<Pod*> order;   // the Pods in list order; null once removed
std::vector<int> podCell;  // the cell each Pod is filed in, -1 none

int CellX(double x) {
    double c = std::floor((x + Border) / Cell);
    if (!(c >= 0)) return 0;  // also NaN
    return c >= nx ? nx - 1 : (int)c;
}
int CellY(double y) {
    double c = std::floor((y + Border) / Cell);
    if (!(c >= 0)) return 0;
    return c >= ny ? ny - 1 : (int)c;
}
int CellOf(double x, double y) { return CellY(y) * nx + CellX(x); }

// The disc around an image's handle that holds it at any rotation, as the
// overlap test measures it.
float Reach(const ImageRef& im, float s) {
    if (!im) return 0;
    float dx = std::max(im->handle_x, im->width - im->handle_x);
    float dy = std::max(im->handle_y, im->height - im->handle_y);
    return std::sqrt(dx * dx + dy * dy) * std::fabs(s);
}

bool Overlaps(const Pod& p, const Mushroom& m) {
    return ImagesOverlap(PodImage[p.health], (float)Trunc(p.x), (float)Trunc(p.y), 0, p.rot, 0.5f, 0.5f,
                         MushroomImage[1], (float)(m.x - 19), (float)(m.y - 19), 0, 0, 0.3f, 0.3f);
}

// The pixel test of an unrotated segment against a mushroom depends only
// on the whole-pixel offset between them: both stand on whole pixels, and
// the test maps screen pixel centres back through differences that are
// exact at any position on or near the screen. So each offset is tested
// once with the real test and remembered, per pod image. The images are
// held, so a reloaded image starts a fresh table.
struct OffsetMemo {
    ImageRef pod, mushroom;
    int reach = 0;
    std::vector<signed char> known;  // -1 not yet tested, else the answer
};
OffsetMemo memos[12];

bool OverlapsMemo(const Pod& p, const Mushroom& m, float reachSum) {
    if (p.rot != 0 || p.health < 0 || p.health >= 12) return Overlaps(p, m);
    OffsetMemo& memo = memos[p.health];
    if (memo.pod != PodImage[p.health] || memo.mushroom != MushroomImage[1]) {
        memo.pod = PodImage[p.health];
        memo.mushroom = MushroomImage[1];
        memo.reach = (int)std::ceil(reachSum) + 1;
        int side = 2 * memo.reach + 1;
        memo.known.assign((size_t)side * side, -1);
    }
    long long dx = (long long)Trunc(p.x) - (m.x - 19), dy = (long long)Trunc(p.y) - (m.y - 19);
    if (dx < -memo.reach || dx > memo.reach || dy < -memo.reach || dy > memo.reach) return Overlaps(p, m);
    int side = 2 * memo.reach + 1;
    signed char& k = memo.known[(size_t)(dy + memo.reach) * side + (size_t)(dx + memo.reach)];
    if (k < 0) k = Overlaps(p, m) ? 1 : 0;
    return k == 1;
}

void FileMushroom(Mushroom& m) { mushCells[CellOf(m.x - 19, m.y - 19)].push_back(&m); }

void FilePod(int index, const Pod& p) {
    int c = CellOf(p.x, p.y);
    if (podCell[index] == c) return;
    if (podCell[index] >= 0) {
        auto& v = podCells[podCell[index]];
        v.erase(std::find(v.begin(), v.end(), index));
    }
    podCells[c].push_back(index);
    podCell[index] = c;
}
}  // namespace

void BeginPodPass() {
    active = GameBroadPhase;
    if (!active) return;
    nx = (ViewWidth + 2 * Border) / Cell + 1;
    ny = (ViewHeight + 2 * Border) / Cell + 1;
    // Cleared rather than rebuilt, so the cells keep their memory.
    mushCells.resize((size_t)nx * ny);
    podCells.resize((size_t)nx * ny);
    for (auto& c : mushCells) c.clear();
    for (auto& c : podCells) c.clear();
    for (Mushroom& m : Game.MushroomList) FileMushroom(m);
    order.clear();
    for (Pod& p : Game.PodList) order.push_back(&p);
    podCell.assign(order.size(), -1);
    for (size_t i = 0; i < order.size(); i++)
        if (order[i]->free == 0) FilePod((int)i, *order[i]);
}

void PodTurnEnded(int index, Pod& p) {
    // Only a Pod's own turn moves it or makes it attached again, so filing
    // it afresh here keeps every cell true for the rest of the pass. Pods
    // knocked loose stay filed; queries look at `free`.
    if (active && p.free == 0) FilePod(index, p);
}

void PodRemoved(int index) {
    if (!active) return;
    order[index] = nullptr;
    if (podCell[index] >= 0) {
        auto& v = podCells[podCell[index]];
        v.erase(std::find(v.begin(), v.end(), index));
        podCell[index] = -1;
    }
}

void MushroomAddedDuringPass(Mushroom& m) {
    if (active) FileMushroom(m);
}

bool SegmentTouchesMushroom(const Pod& p) {
    if (!active) {
        for (const Mushroom& m : Game.MushroomList)
            if (Overlaps(p, m)) return true;
        return false;
    }
    // Any overlap will do, so the order the candidates are tried in does
    // not matter; the test itself has no side effects.
    float r = Reach(PodImage[p.health], 0.5f) + Reach(MushroomImage[1], 0.3f) + 2;
    double tx = Trunc(p.x), ty = Trunc(p.y);
    int x0 = CellX(tx - r), x1 = CellX(tx + r), y0 = CellY(ty - r), y1 = CellY(ty + r);
    for (int cy = y0; cy <= y1; cy++)
        for (int cx = x0; cx <= x1; cx++)
            for (Mushroom* m : mushCells[cy * nx + cx])
                if (OverlapsMemo(p, *m, r)) return true;
    return false;
}

namespace {
bool InReach(const Pod& p, const Pod& q, long long limit) {
    long long dx = Trunc((double)p.x - (double)q.x);
    long long dy = Trunc((double)p.y - (double)q.y);
    return dx * dx + dy * dy < limit;
}
}  // namespace

void StrikeTargets(const Pod& p, int index, long long limit, std::vector<Pod*>& out) {
    out.clear();
    if (!active) {
        for (Pod& q : Game.PodList)
            if (&q != &p && q.free == 0 && InReach(p, q, limit)) out.push_back(&q);
        return;
    }
    // Truncation moves each distance by less than a pixel.
    double r = std::sqrt((double)limit) + 2;
    int x0 = CellX(p.x - r), x1 = CellX(p.x + r), y0 = CellY(p.y - r), y1 = CellY(p.y + r);
    static std::vector<int> hits;
    hits.clear();
    for (int cy = y0; cy <= y1; cy++)
        for (int cx = x0; cx <= x1; cx++)
            for (int j : podCells[cy * nx + cx]) {
                Pod* q = order[j];
                if (j != index && q && q->free == 0 && InReach(p, *q, limit)) hits.push_back(j);
            }
    std::sort(hits.begin(), hits.end());
    for (int j : hits) out.push_back(order[j]);
}
