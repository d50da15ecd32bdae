// The list of full-screen display modes, the choice of a mode for a
// requested size, and the desktop size.
#include <SDL.h>

#include <vector>

#include "platform/log.h"
#include "platform/window.h"

namespace {

bool usable_depth(int depth)
{
    return depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}

bool listed(const display_mode* out, int n, const reported_mode& m)
{
    for (int i = 0; i < n; i++)
        if (out[i].width == m.width && out[i].height == m.height && out[i].depth == m.depth)
            return true;
    return false;
}

reported_mode from_sdl(const SDL_DisplayMode& m)
{
    reported_mode r;
    r.width = m.w;
    r.height = m.h;
    r.depth = (int)SDL_BITSPERPIXEL(m.format);
    r.refresh = m.refresh_rate;
    return r;
}

// Video for a query made before (or without) the window: SDL counts the
// users of each subsystem, so this nests with the window's own.
struct video_user {
    bool ok;
    video_user()
    {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
    ~video_user()
    {
        if (ok)
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
};

std::vector<display_mode> g_modes;  // empty until read from a display

}  // namespace

int build_mode_list(const reported_mode* desktop, const reported_mode* modes, int count,
                    display_mode* out)
{
    int n = 0;
    if (desktop) {
        if (usable_depth(desktop->depth)) {
            log_printf("Registry mode is %dx%dx%d@%dhz\n", desktop->width, desktop->height,
                       desktop->depth, desktop->refresh);
            out[n++] = display_mode{desktop->width, desktop->height, desktop->depth};
        } else {
            log_printf("Registry mode is %dx%dx%d@%dhz (ignored)\n", desktop->width,
                       desktop->height, desktop->depth, desktop->refresh);
        }
    }
    for (int i = 0; i < count; i++) {
        const reported_mode& m = modes[i];
        if (!usable_depth(m.depth)) {
            log_printf("Found mode %dx%dx%d@%dhz (ignored)\n", m.width, m.height, m.depth,
                       m.refresh);
            continue;
        }
        // The same mode at another refresh rate is not another choice.
        if (listed(out, n, m))
            continue;
        log_printf("Found mode %dx%dx%d@%dhz\n", m.width, m.height, m.depth, m.refresh);
        out[n++] = display_mode{m.width, m.height, m.depth};
    }
    out[n] = display_mode{};
    return n;
}

display_mode choose_fullscreen_mode(const display_mode* modes, int width, int height,
                                    int desktop_width, int desktop_height)
{
    const display_mode* best = nullptr;
    long best_cost = 0;
    for (const display_mode* m = modes; m && (m->width || m->height || m->depth); m++) {
        if (m->width < width || m->height < height)
            continue;
        long cost = (long)(m->width - width) + (long)(m->height - height);
        if (!best || cost < best_cost) {
            best = m;
            best_cost = cost;
        }
    }
    if (best)
        return *best;
    return display_mode{desktop_width, desktop_height, 0};
}

const display_mode* display_modes()
{
    static const display_mode none[1] = {};
    if (!g_modes.empty())
        return g_modes.data();
    video_user video;
    if (!video.ok) {
        log_printf("Can't read the display modes: %s\n", SDL_GetError());
        return none;
    }
    reported_mode desktop;
    SDL_DisplayMode dm;
    bool have_desktop = SDL_GetDesktopDisplayMode(0, &dm) == 0;
    if (have_desktop)
        desktop = from_sdl(dm);
    std::vector<reported_mode> reported;
    int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; i++)
        if (SDL_GetDisplayMode(0, i, &dm) == 0)
            reported.push_back(from_sdl(dm));
    std::vector<display_mode> list(reported.size() + 2);
    int n = build_mode_list(have_desktop ? &desktop : nullptr, reported.data(), (int)reported.size(),
                            list.data());
    list.resize((size_t)n + 1);
    g_modes = list;
    return g_modes.data();
}

void desktop_size(int* width, int* height)
{
    int w = 640, h = 480;
    video_user video;
    SDL_DisplayMode dm;
    if (video.ok && SDL_GetDesktopDisplayMode(0, &dm) == 0 && dm.w > 0 && dm.h > 0) {
        w = dm.w;
        h = dm.h;
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
}
