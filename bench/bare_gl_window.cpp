// The memory floor for the game's own figure: a bare SDL window of 800 x 600
// with a compatibility GL context, as the drawing service opens it, drawing
// one 64 x 64 texture each frame for N frames (default 300) and nothing else.
// Run under /usr/bin/time -v next to the game (docs/PERFORMANCE.md).
#include <SDL.h>
#include <SDL_opengl.h>

#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* win = SDL_CreateWindow("bare", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 800, 600,
                                       SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!win) return 1;
    SDL_GLContext ctx = SDL_GL_CreateContext(win);
    if (!ctx) return 1;
    std::vector<unsigned char> px(64 * 64 * 4, 200);
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glOrtho(0, 800, 600, 0, -1, 1);
    for (int f = 0; f < frames; ++f) {
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
        }
        glClear(GL_COLOR_BUFFER_BIT);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 0), glVertex2f(100, 100);
        glTexCoord2f(1, 0), glVertex2f(164, 100);
        glTexCoord2f(1, 1), glVertex2f(164, 164);
        glTexCoord2f(0, 1), glVertex2f(100, 164);
        glEnd();
        SDL_GL_SwapWindow(win);
        SDL_Delay(16);
    }
    SDL_GL_DeleteContext(ctx);
    SDL_DestroyWindow(win);
    SDL_Quit();
    return 0;
}
