#include "services/popups.h"

#include <string>

#include "screens/helpers.h"
#include "services/drawlog.h"
#include "shell/display.h"

std::list<std::shared_ptr<ScorePopup>> PopupList;

void AddPopup(int points, int x, int y, int r, int g, int b) {
    auto p = std::make_shared<ScorePopup>();
    p->n = points;
    p->x = (float)x;
    p->y = (float)y;
    p->t = PopupLife;
    p->r = r;
    p->g = g;
    p->b = b;
    PopupList.push_back(p);
}

void TickPopups() {
    SetImageFont(Fonts[3]);
    ResetDrawState();
    for (auto it = PopupList.begin(); it != PopupList.end();) {
        ScorePopup& p = **it;
        p.t--;
        p.y -= 0.25f;
        if (p.t <= 0) {
            // From this frame on it would be fully transparent.
            it = PopupList.erase(it);
            continue;
        }
        SetTint((float)p.r, (float)p.g, (float)p.b, (float)p.t / PopupLife);
        LoggedText((int)p.x, (int)p.y, std::to_string(p.n), 1, 1);
        ++it;
    }
}
