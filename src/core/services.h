// Seams through which the simulation reaches the layers above it. Each
// service is one small table of function pointers, filled at start-up by the
// game and left at the headless defaults (no-ops returning "none") by the
// tools and tests.
#pragma once

struct status_service {
    // Draws the title screen with the text and presents it (show_status).
    void (*draw_status)(const char* text) = nullptr;
    // Drains pending input and resets binding values (show_status).
    void (*drain_input)() = nullptr;
    // Gives a loading screen the chance to redraw during long work.
    void (*pump)() = nullptr;
    // Closes the audio device and the window before a fatal message box.
    void (*close_for_fatal)() = nullptr;
};
extern status_service g_status_service;

// Textures. Handles are the renderer's; 0 means "no texture". Headless,
// every load answers 0 and the simulation carries on without pictures.
struct texture_service {
    unsigned (*load)(const char* name, int flags) = nullptr;
    void (*release)(unsigned texture) = nullptr;
    // True when ground tiles are textured in software: the surface table
    // then keeps the tile pictures in memory instead of as textures.
    bool (*keep_tile_pictures)() = nullptr;
    // The text attached to a texture's source picture, or null.
    const char* (*text)(unsigned texture) = nullptr;
    // Paints a race number into a new size x size mipmapped texture with the
    // background and figure colours (RGB). Not registered: the owner deletes
    // it with delete_unregistered.
    unsigned (*number_plate)(const char* number, const unsigned char background[3],
                             const unsigned char figures[3], int size) = nullptr;
    void (*delete_unregistered)(unsigned texture) = nullptr;
    // The normal-map and specular-map variants of a texture, 0 when none.
    unsigned (*normal_map)(unsigned texture) = nullptr;
    unsigned (*specular_map)(unsigned texture) = nullptr;
};
extern texture_service g_texture_service;

// Helpers that apply the headless defaults when a slot is empty.
inline unsigned texture_load(const char* name, int flags)
{
    return g_texture_service.load ? g_texture_service.load(name, flags) : 0;
}
inline void texture_release(unsigned texture)
{
    if (g_texture_service.release && texture)
        g_texture_service.release(texture);
}

// Models. Handles are the renderer's; 0 means "no model". Headless (no load
// function) bikes are built without models and nothing is reported.
struct model_service {
    // Loads (or finds in the cache) the model of that data name, to be drawn
    // with the texture; 0 when the file cannot be loaded.
    unsigned (*load)(const char* name, unsigned texture) = nullptr;
};
extern model_service g_model_service;

inline bool model_service_present()
{
    return g_model_service.load != nullptr;
}
inline unsigned model_load(const char* name, unsigned texture)
{
    return g_model_service.load ? g_model_service.load(name, texture) : 0;
}
