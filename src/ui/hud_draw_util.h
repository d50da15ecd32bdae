// The heads-up display's drawing helpers: a pixel projection over the
// window and flat or textured rectangles and text placed in pixels.
#pragma once

// Saves the GL state and sets a projection of window pixels (origin at the
// bottom left), no depth test, lighting, culling or programs; hud_2d_end
// puts everything back.
void hud_2d_begin(int width, int height);
void hud_2d_end();

void hud_rect(float x0, float y0, float x1, float y1, float r, float g, float b, float a);
// A textured rectangle with texture coordinates (s0, t0) at the top left
// and (s1, t1) at the bottom right.
void hud_picture(unsigned texture, float x0, float y0, float x1, float y1, float s0 = 0, float t0 = 0,
                 float s1 = 1, float t1 = 1, float alpha = 1);

// Text with its line's bottom at (x, y), size pixels high.
void hud_text(float x, float y, float size, float r, float g, float b, float a, const char* text, bool shadow);
// The same, centred on x.
void hud_text_centred(float x, float y, float size, float r, float g, float b, float a, const char* text,
                      bool shadow);
// Width of the text in pixels at that size.
float hud_text_width(const char* text, float size);
