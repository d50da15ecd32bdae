// The stroke font's glyphs and their drawing.
//
// Each glyph is a width and a list of strokes. A stroke is a run of points
// "x,y" and arcs "(cx,cy,rx,ry,a0,a1)" (an elliptic arc from angle a0 to a1
// in degrees, counter-clockwise when a1 > a0); the pen moves through them in
// order, and "|" lifts it.
#include "stroke_font.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;

struct glyph_def {
    char c;
    double width;
    const char* strokes;
};

const glyph_def k_glyphs[] = {
    {'!', 0, "0,7 0,2|0,0.05 0,0.15"},
    {'"', 1.6, "0,7.2 0,5.2|1.6,7.2 1.6,5.2"},
    {'#', 5.2, "1.6,0 2.2,7|3.2,0 3.8,7|0.2,2.4 5,2.4|0.4,4.6 5.2,4.6"},
    {'$', 4, "(2,5.1,1.9,1.5,20,270) (2,2.1,2,1.5,90,-160)|2,7.8 2,-0.8"},
    {'%', 5, "0,0 5,7|(1,5.8,1,1.2,0,360)|(4,1.2,1,1.2,0,360)"},
    {'&', 5, "4.8,0 1.2,4.9 (2.1,5.9,1.2,1.1,210,-30) 0.4,1.8 (1.9,1.6,1.6,1.6,170,300) 4.8,3.2"},
    {'\'', 0, "0,7.2 0,5.2"},
    {'(', 2, "(3.4,2.75,3.2,5.2,120,240)"},
    {')', 2, "(-1.4,2.75,3.2,5.2,60,-60)"},
    {'*', 3.4, "1.7,7 1.7,3.4|0.2,6.1 3.2,4.3|0.2,4.3 3.2,6.1"},
    {'+', 4.4, "2.2,1 2.2,5.4|0,3.2 4.4,3.2"},
    {',', 0.8, "0.8,0.3 0,-1.5"},
    {'-', 2.8, "0,3 2.8,3"},
    {'.', 0, "0,0.05 0,0.15"},
    {'/', 3.4, "0,-0.8 3.4,7.5"},
    {'0', 4, "(2,3.5,2,3.5,0,360)"},
    {'1', 3, "0,5.5 1.6,7 1.6,0|0.2,0 3,0"},
    {'2', 4, "(2,5,1.9,2,150,-20) 0,0 4,0"},
    {'3', 4, "(2,5.3,1.8,1.7,150,-90) (2,1.8,2,1.8,90,-150)"},
    {'4', 4.4, "3.2,0 3.2,7 0,2 4.4,2"},
    {'5', 4, "3.8,7 0.4,7 0.2,3.9 (2,2.2,2,2.2,125,-150)"},
    {'6', 4, "(2,2.2,2,2.2,0,360)|0.05,2.5 (2.5,2.5,2.45,4.5,180,80)"},
    {'7', 4, "0,7 4,7 1.3,0"},
    {'8', 4, "(2,5.35,1.7,1.65,0,360)|(2,1.85,2,1.85,0,360)"},
    {'9', 4, "(2,4.8,2,2.2,0,360)|3.95,4.5 (1.55,4.5,2.4,4.5,0,-100)"},
    {':', 0, "0,0.05 0,0.15|0,4.4 0,4.5"},
    {';', 0.8, "0.8,0.3 0,-1.5|0.8,4.4 0.8,4.5"},
    {'<', 3.6, "3.6,5.8 0,3.2 3.6,0.6"},
    {'=', 4, "0,2.2 4,2.2|0,4.2 4,4.2"},
    {'>', 3.6, "0,5.8 3.6,3.2 0,0.6"},
    {'?', 3.8, "(1.9,5.2,1.9,1.8,160,-60) 1.9,2.6 1.9,1.9|1.9,0.05 1.9,0.15"},
    {'@', 6.6, "(3.2,3.1,1.3,1.5,0,360)|4.5,4.6 4.5,1.9 (5.5,2.3,1,1,180,360) (3.3,3,3.3,4,0,290)"},
    {'A', 5, "0,0 2.5,7 5,0|0.9,2.4 4.1,2.4"},
    {'B', 4.7, "0,0 0,7 2.8,7 (2.8,5.35,1.65,1.65,90,-90) 0,3.7|2.8,3.7 (2.85,1.85,1.85,1.85,90,-90) 0,0"},
    {'C', 4.6, "(2.6,3.5,2.5,3.5,50,310)"},
    {'D', 4.6, "0,0 0,7 1.4,7 (1.4,3.5,3.2,3.5,90,-90) 0,0"},
    {'E', 4, "4,7 0,7 0,0 4,0|0,3.6 3.2,3.6"},
    {'F', 4, "4,7 0,7 0,0|0,3.6 3.2,3.6"},
    {'G', 5.1, "(2.6,3.5,2.5,3.5,50,345) 5.1,3.2 3,3.2"},
    {'H', 4.5, "0,0 0,7|4.5,0 4.5,7|0,3.6 4.5,3.6"},
    {'I', 1.6, "0,0 1.6,0|0.8,0 0.8,7|0,7 1.6,7"},
    {'J', 3.5, "3.5,7 3.5,1.7 (1.75,1.7,1.75,1.7,0,-180)"},
    {'K', 4.5, "0,0 0,7|4.5,7 0,2.6|1.5,3.9 4.5,0"},
    {'L', 3.8, "0,7 0,0 3.8,0"},
    {'M', 5.5, "0,0 0,7 2.75,2 5.5,7 5.5,0"},
    {'N', 4.5, "0,0 0,7 4.5,0 4.5,7"},
    {'O', 5, "(2.5,3.5,2.5,3.5,0,360)"},
    {'P', 4.4, "0,0 0,7 2.5,7 (2.5,5.1,1.9,1.9,90,-90) 0,3.2"},
    {'Q', 5, "(2.5,3.5,2.5,3.5,0,360)|3,1.5 5,-0.5"},
    {'R', 4.5, "0,0 0,7 2.5,7 (2.5,5.1,1.9,1.9,90,-90) 0,3.2|2.2,3.2 4.5,0"},
    {'S', 4.2, "(2.1,5.25,2,1.75,20,270) (2.1,1.75,2.1,1.75,90,-160)"},
    {'T', 5, "0,7 5,7|2.5,7 2.5,0"},
    {'U', 4.5, "0,7 0,2.2 (2.25,2.2,2.25,2.2,180,360) 4.5,7"},
    {'V', 5, "0,7 2.5,0 5,7"},
    {'W', 7, "0,7 1.7,0 3.5,5.5 5.3,0 7,7"},
    {'X', 4.5, "0,7 4.5,0|0,0 4.5,7"},
    {'Y', 5, "0,7 2.5,3.5 5,7|2.5,3.5 2.5,0"},
    {'Z', 4.5, "0,7 4.5,7 0,0 4.5,0"},
    {'[', 2, "2,7.5 0,7.5 0,-1.5 2,-1.5"},
    {'\\', 3.4, "0,7.5 3.4,-0.8"},
    {']', 2, "0,7.5 2,7.5 2,-1.5 0,-1.5"},
    {'^', 4, "0,4.5 2,7 4,4.5"},
    {'_', 4.4, "0,-1.2 4.4,-1.2"},
    {'`', 1.2, "0,7.3 1.2,6"},
    {'a', 3.7, "(1.85,2.5,1.85,2.5,0,360)|3.7,5 3.7,0"},
    {'b', 3.7, "0,7.5 0,0|(1.85,2.5,1.85,2.5,0,360)"},
    {'c', 3.5, "(1.85,2.5,1.85,2.5,45,315)"},
    {'d', 3.7, "(1.85,2.5,1.85,2.5,0,360)|3.7,7.5 3.7,0"},
    {'e', 3.7, "0,2.5 3.7,2.5 (1.85,2.5,1.85,2.5,0,315)"},
    {'f', 2.8, "2.8,7.2 (2,6.3,0.9,0.9,90,180) 1.1,0|0,5 2.6,5"},
    {'g', 3.7, "(1.85,2.5,1.85,2.5,0,360)|3.7,5 3.7,-0.5 (1.85,-0.5,1.85,1.5,0,-160)"},
    {'h', 3.6, "0,7.5 0,0|0,3.2 (1.8,3.2,1.8,1.8,180,0) 3.6,0"},
    {'i', 0, "0,0 0,5|0,6.6 0,6.7"},
    {'j', 1.5, "1.5,5 1.5,-0.8 (0.5,-0.8,1,1.2,0,-150)|1.5,6.6 1.5,6.7"},
    {'k', 3.5, "0,7.5 0,0|3.4,5 0,1.8|1.3,2.8 3.5,0"},
    {'l', 0.8, "0,7.5 0,0.8 (0.8,0.8,0.8,0.8,180,270)"},
    {'m', 5.6, "0,0 0,5|0,3.5 (1.4,3.6,1.4,1.4,180,0) 2.8,0|2.8,3.5 (4.2,3.6,1.4,1.4,180,0) 5.6,0"},
    {'n', 3.6, "0,0 0,5|0,3.2 (1.8,3.2,1.8,1.8,180,0) 3.6,0"},
    {'o', 3.8, "(1.9,2.5,1.9,2.5,0,360)"},
    {'p', 3.7, "0,5 0,-2|(1.85,2.5,1.85,2.5,0,360)"},
    {'q', 3.7, "(1.85,2.5,1.85,2.5,0,360)|3.7,5 3.7,-2"},
    {'r', 2.6, "0,0 0,5|0,3 (2,3.2,2,1.8,180,70)"},
    {'s', 3.2, "(1.6,3.75,1.5,1.25,20,270) (1.6,1.25,1.6,1.25,90,-160)"},
    {'t', 2.6, "0.9,6.5 0.9,0.9 (1.9,0.9,1,0.9,180,300)|0,5 2.6,5"},
    {'u', 3.6, "0,5 0,1.8 (1.8,1.8,1.8,1.8,180,360)|3.6,5 3.6,0"},
    {'v', 3.8, "0,5 1.9,0 3.8,5"},
    {'w', 5.6, "0,5 1.4,0 2.8,4 4.2,0 5.6,5"},
    {'x', 3.6, "0,5 3.6,0|0,0 3.6,5"},
    {'y', 3.8, "0,5 1.9,0|3.8,5 1.2,-2 0.3,-2"},
    {'z', 3.4, "0,5 3.4,5 0,0 3.4,0"},
    {'{', 2.4, "2.4,7.5 (2.4,6.1,1.2,1.4,90,180) 1.2,4 0,3 1.2,2 (2.4,-0.1,1.2,1.4,180,270)"},
    {'|', 0, "0,7.5 0,-1.5"},
    {'}', 2.4, "0,7.5 (0,6.1,1.2,1.4,90,0) 1.2,4 2.4,3 1.2,2 (0,-0.1,1.2,1.4,0,-90)"},
    {'~', 4.4, "0,2.8 0.6,3.5 1.4,3.6 2.2,3.1 3,2.6 3.8,2.7 4.4,3.4"},
};

const glyph_def* find(char c)
{
    for (const glyph_def& g : k_glyphs)
        if (g.c == c)
            return &g;
    return nullptr;
}

struct point {
    double x, y;
};

// The strokes of a glyph as polylines in glyph units.
std::vector<std::vector<point>> parse(const char* s)
{
    std::vector<std::vector<point>> strokes(1);
    const char* p = s;
    while (*p) {
        if (*p == ' ') {
            p++;
        } else if (*p == '|') {
            strokes.emplace_back();
            p++;
        } else if (*p == '(') {
            double v[6];
            char* end = const_cast<char*>(p + 1);
            for (double& x : v) {
                x = strtod(end, &end);
                if (*end == ',')
                    end++;
            }
            p = end + 1;  // past ')'
            const int steps = std::max(2, (int)std::ceil(std::fabs(v[5] - v[4]) / 10.0));
            for (int i = 0; i <= steps; i++) {
                const double a = (v[4] + (v[5] - v[4]) * i / steps) * pi / 180.0;
                strokes.back().push_back({v[0] + v[2] * std::cos(a), v[1] + v[3] * std::sin(a)});
            }
        } else {
            char* end;
            const double x = strtod(p, &end);
            const double y = strtod(end + 1, &end);
            strokes.back().push_back({x, y});
            p = end;
        }
    }
    return strokes;
}

double segment_distance_sq(double px, double py, point a, point b)
{
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp(((px - a.x) * dx + (py - a.y) * dy) / len2, 0.0, 1.0) : 0;
    const double ex = a.x + dx * t - px, ey = a.y + dy * t - py;
    return ex * ex + ey * ey;
}

}  // namespace

double stroke_glyph_width(char c, const stroke_style& style)
{
    if (c == ' ')
        return 2.5;
    const glyph_def* g = find(c);
    return g ? g->width * style.squeeze + style.weight + std::fabs(style.slant) * 7.5 : 0;
}

double stroke_text_width(const std::string& s, const stroke_style& style)
{
    double w = 0;
    for (char c : s)
        w += stroke_glyph_width(c, style) + style.spacing;
    return s.empty() ? 0 : (w - style.spacing) * style.unit;
}

void stroke_draw_glyph(canvas* c, double x, double baseline, char ch, const stroke_style& style, uint32_t colour)
{
    const glyph_def* g = find(ch);
    if (!g)
        return;
    const double u = style.unit, r = style.weight / 2 * u;
    const double lean = style.slant < 0 ? -style.slant * 7.5 : 0;
    std::vector<std::vector<point>> strokes = parse(g->strokes);
    double x0 = 1e30, y0 = 1e30, x1 = -1e30, y1 = -1e30;
    for (auto& s : strokes)
        for (point& p : s) {
            p = {x + (style.weight / 2 + lean + p.x * style.squeeze + style.slant * p.y) * u, baseline - p.y * u};
            x0 = std::min(x0, p.x - r);
            x1 = std::max(x1, p.x + r);
            y0 = std::min(y0, p.y - r);
            y1 = std::max(y1, p.y + r);
        }
    const int px0 = std::max(0, (int)std::floor(x0)), py0 = std::max(0, (int)std::floor(y0));
    const int px1 = std::min(c->width - 1, (int)std::ceil(x1)), py1 = std::min(c->height - 1, (int)std::ceil(y1));
    for (int py = py0; py <= py1; py++)
        for (int px = px0; px <= px1; px++) {
            int hits = 0;
            for (int sy = 0; sy < 4; sy++)
                for (int sx = 0; sx < 4; sx++) {
                    const double qx = px + (sx + 0.5) / 4, qy = py + (sy + 0.5) / 4;
                    bool in = false;
                    for (const auto& s : strokes) {
                        for (size_t i = 0; i < s.size() && !in; i++)
                            in = segment_distance_sq(qx, qy, s[i], s[i + 1 < s.size() ? i + 1 : i]) <= r * r;
                        if (in)
                            break;
                    }
                    hits += in;
                }
            if (hits)
                c->blend(px, py, colour, hits / 16.0);
        }
}

double stroke_draw_text(canvas* c, double x, double baseline, const std::string& s, const stroke_style& style,
                        uint32_t colour)
{
    double pen = x;
    for (char ch : s) {
        stroke_draw_glyph(c, pen, baseline, ch, style, colour);
        pen += (stroke_glyph_width(ch, style) + style.spacing) * style.unit;
    }
    return stroke_text_width(s, style);
}

void stroke_draw_centred(canvas* c, double cx, double baseline, const std::string& s, const stroke_style& style,
                         uint32_t colour)
{
    stroke_draw_text(c, cx - stroke_text_width(s, style) / 2, baseline, s, style, colour);
}

}  // namespace mkdata
