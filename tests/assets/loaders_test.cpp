// The committed assets through the program's own loaders (headless display,
// Null audio back end): every image, strip, font and sound loads the way the
// shell and the game load it, and the collision bodies behave as drawn.
#include <gtest/gtest.h>

#include "media/audio.h"
#include "media/audio_internal.h"
#include "media/graphics.h"
#include "tests/support/headless.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

const std::string kCommon = std::string(WORMLOB_SOURCE_DIR) + "/Files/Common/";
const std::string kGame = std::string(WORMLOB_SOURCE_DIR) + "/Files/418/";

class AssetLoaders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(OpenHeadlessDisplay());
        SetAutoCentreHandle(true);
    }
    void TearDown() override {
        SetAutoCentreHandle(false);
        CloseDisplay();
        ForceNullGraphics(false);
    }
};

bool SolidAt(const ImageRef& img, int frame, int x, int y) {
    const TPixmap* pm = ImageFramePixels(img, frame);
    if (!pm) return false;
    return pm->pixels[(size_t)y * pm->pitch + (size_t)x * 4 + 3] >= 128;
}

}  // namespace

TEST_F(AssetLoaders, CommonImagesLoadAsTheShellCutsThem) {
    // Both icon sheets: 64 frames of 16 x 16, masked (and filtered).
    for (int flags : {1, 3}) {
        ImageRef icons = LoadImageStrip(kCommon + "icons.png", 16, 16, 0, 64, flags);
        ASSERT_TRUE(icons) << "flags " << flags;
        EXPECT_EQ(ImageFrameCount(icons), 64);
        EXPECT_EQ(ImageWidth(icons), 16);
        EXPECT_EQ(ImageHeight(icons), 16);
        // The pointer's tip is the top-left pixel of frame 63.
        EXPECT_TRUE(SolidAt(icons, 63, 0, 0));
    }
    ImageRef badges = LoadImageStrip(kGame + "badges.png", 64, 64, 0, 16, 3);
    ASSERT_TRUE(badges);
    EXPECT_EQ(ImageFrameCount(badges), 16);
    for (const char* name : {"logo.png", "Vantor.png"}) {
        ImageRef logo = LoadImage(kCommon + name, 3);
        ASSERT_TRUE(logo) << name;
        // Drawn at 1.5x on a 1280 x 960 splash, it must fit the screen.
        EXPECT_LE(ImageWidth(logo) * 1.5, 640) << name;
        EXPECT_LE(ImageHeight(logo) * 1.5, 450) << name;
    }
}

TEST_F(AssetLoaders, GameImagesLoadAndCollideOnTheirBodiesOnly) {
    ImageRef pods[6], rooms[5];
    for (int i = 1; i <= 5; i++) {
        pods[i] = LoadImage(kGame + "pod" + std::to_string(i) + ".png");
        ASSERT_TRUE(pods[i]) << i;
        ASSERT_TRUE(LoadImage(kGame + "pod" + std::to_string(i) + "g.png")) << i;
    }
    for (int i = 1; i <= 4; i++) {
        rooms[i] = LoadImage(kGame + "mushroom" + std::to_string(i) + ".png");
        ASSERT_TRUE(rooms[i]) << i;
        ASSERT_TRUE(LoadImage(kGame + "mushroom" + std::to_string(i) + "g.png")) << i;
    }
    ImageRef square = LoadImage(kGame + "whitesquare.png");
    ImageRef net = LoadImage(kGame + "net.png");
    ImageRef spike = LoadImage(kGame + "spike.png");
    for (const char* g : {"whitesquareg.png", "netg.png", "spikeg.png"}) ASSERT_TRUE(LoadImage(kGame + g)) << g;
    ASSERT_TRUE(square && net && spike);

    // A ball (radius 12: the square at scale 25/64) beside a pod at scale
    // 0.5, whose solid disc has radius 26 on screen. Touching the body
    // collides; being within the soft rim light does not.
    float bs = 25.0f / 64.0f;
    float half = 12.5f;
    EXPECT_TRUE(ImagesOverlap(pods[1], 300, 300, 0, 0, 0.5f, 0.5f, square, 300 + 26 + half - 2, 300, 0, 0, bs, bs));
    EXPECT_FALSE(ImagesOverlap(pods[1], 300, 300, 0, 0, 0.5f, 0.5f, square, 300 + 26 + half + 2, 300, 0, 0, bs, bs));
    // A worn pod is still hit at the same reach away from its chips.
    EXPECT_TRUE(ImagesOverlap(pods[5], 300, 300, 0, 0, 0.5f, 0.5f, square, 300, 300 - 26 - half + 2, 0, 0, bs, bs));

    // The spiked pod reaches further than a plain one: a spark-sized square
    // (half-size 3.2) centred 32 pixels out misses the plain pod everywhere
    // but meets the spike pod's points.
    float d = 32, ss = 0.1f;
    bool podHit = false, spikeHit = false;
    for (int a = 0; a < 360; a += 3) {
        float x = 300 + d * std::cos(a * 3.14159265f / 180), y = 300 + d * std::sin(a * 3.14159265f / 180);
        podHit |= ImagesOverlap(pods[1], 300, 300, 0, 0, 0.5f, 0.5f, square, x, y, 0, 0, ss, ss);
        spikeHit |= ImagesOverlap(spike, 300, 300, 0, 0, 0.5f, 0.5f, square, x, y, 0, 0, ss, ss);
    }
    EXPECT_FALSE(podHit);
    EXPECT_TRUE(spikeHit);

    // A walking segment meets a mushroom (image 1 at scale 0.3) when they
    // are a pod's radius plus about half a mushroom apart, not further.
    EXPECT_TRUE(ImagesOverlap(pods[1], 300, 300, 0, 0, 0.5f, 0.5f, rooms[1], 300 + 26 + 15, 300, 0, 0, 0.3f, 0.3f));
    EXPECT_FALSE(ImagesOverlap(pods[1], 300, 300, 0, 0, 0.5f, 0.5f, rooms[1], 300 + 26 + 22, 300, 0, 0, 0.3f, 0.3f));

    // The net at full size catches a pod over its middle, and the bat (the
    // square at 2 x 0.2) is solid across its whole width.
    EXPECT_TRUE(ImagesOverlap(net, 640, 630, 0, 0, 1, 1, pods[2], 640, 630, 0, 0, 0.5f, 0.5f));
    EXPECT_TRUE(ImagesOverlap(square, 640, 940, 0, 0, 2, 0.2f, square, 640 - 63, 940, 0, 0, 0.05f, 0.05f));
}

TEST_F(AssetLoaders, FontsLoadAtEverySizeTheShellUses) {
    struct Use {
        const char* file;
        int size;
    };
    // The font table's sizes, and the enlarged ones for small displays.
    const Use uses[] = {{"Plainhand.ttf", 16}, {"Plainhand.ttf", 24}, {"Plainhand.ttf", 32}, {"Plainhand.ttf", 48},
                        {"Roadsign.ttf", 32},  {"Roadsign.ttf", 96},  {"Roadsign.ttf", 144}, {"Marquee.ttf", 32},
                        {"Marquee.ttf", 96},   {"Marquee.ttf", 128}};
    for (const Use& u : uses) {
        SCOPED_TRACE(std::string(u.file) + " " + std::to_string(u.size));
        FontRef f = LoadImageFont(kCommon + u.file, u.size, FONT_SMOOTH);
        ASSERT_TRUE(f);
        SetImageFont(f);
        int plain = TextWidth("Player");
        EXPECT_GT(plain, u.size);
        // Latin-1 letters have real widths, not missing-glyph boxes of zero.
        EXPECT_GT(TextWidth("\xC5\xD8\xE9\xFF\xDF"), u.size);
        EXPECT_GT(TextHeight(), u.size / 2);
        SetImageFont(nullptr);
    }
}

TEST(AssetSoundLoaders, EverySoundLoadsWithItsLength) {
    ASSERT_TRUE(SetAudioDriver("Null"));
    for (int n = 1; n <= 19; n++) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.wav", n);
        SoundRef s = LoadSound(kGame + name, 0);
        ASSERT_TRUE(s && s->data) << name;
        double seconds = (double)s->data->frames / s->data->rate;
        EXPECT_GE(seconds, 0.1) << name;
        EXPECT_LE(seconds, 1.5) << name;
    }
    SoundRef jingle = LoadSound(kCommon + "badgeget.wav", 0);
    ASSERT_TRUE(jingle && jingle->data);
    SoundRef music = LoadSound(kGame + "wormlob.ogg", 0);
    ASSERT_TRUE(music && music->data);
    double seconds = (double)music->data->frames / music->data->rate;
    EXPECT_GE(seconds, 30);
    EXPECT_LE(seconds, 60);
    // It plays on a channel like any sound.
    ChannelRef ch = CueSound(music, AllocChannel());
    ASSERT_TRUE(ch);
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    ch->Stop();
    ShutdownAudio();
}
