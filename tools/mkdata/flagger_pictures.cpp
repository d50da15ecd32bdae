// Drawing the flaggers: a figure posed by its hands, feet and a bob of the
// body, the board and the flags they hold, and the animated sequences of
// their movements. Poses are laid out on a 32 x 64 grid and drawn twice as
// large.
#include "flagger_pictures.h"

#include <algorithm>
#include <cmath>

#include "render/picture.h"

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;
const int ticks_per_second = 128;  // world ticks

// Draws on a canvas in grid units.
struct pen {
    canvas c{64, 128, 0};
    const double k = 2;
    void line(double x0, double y0, double x1, double y1, double w, uint32_t colour)
    {
        c.line(x0 * k, y0 * k, x1 * k, y1 * k, w * k, colour);
    }
    void rect(double x0, double y0, double x1, double y1, uint32_t colour)
    {
        c.rect(x0 * k, y0 * k, x1 * k, y1 * k, colour);
    }
    void ellipse(double cx, double cy, double rx, double ry, uint32_t colour)
    {
        c.ellipse(cx * k, cy * k, rx * k, ry * k, colour);
    }
    void polygon(std::vector<double> xy, uint32_t colour)
    {
        for (double& v : xy)
            v *= k;
        c.polygon(xy, colour);
    }
    void text(double x, double y, double scale, const std::string& s, uint32_t colour)
    {
        c.text(x * k, y * k, scale * k, s, colour);
    }
};

struct pose {
    double lx, ly, rx, ry;            // hands
    double left_foot = 13, right_foot = 19;
    double left_lift = 0, right_lift = 0;
    double bob = 0;                   // the body lowered by
};

const uint32_t trousers = rgba(40, 44, 60), skin = rgba(226, 184, 150), pole_colour = rgba(70, 60, 50);

void figure(pen* p, uint32_t shirt, const pose& s)
{
    const double b = s.bob;
    p->line(14, 40 + b, s.left_foot, 62 - s.left_lift, 4, trousers);
    p->line(18, 40 + b, s.right_foot, 62 - s.right_lift, 4, trousers);
    // Shoes.
    p->ellipse(s.left_foot - 0.6, 62.6 - s.left_lift, 2.2, 1.2, rgba(24, 24, 28));
    p->ellipse(s.right_foot + 0.6, 62.6 - s.right_lift, 2.2, 1.2, rgba(24, 24, 28));
    p->polygon({11, 20 + b, 21, 20 + b, 20, 42 + b, 12, 42 + b}, shirt);
    p->line(12, 22 + b, s.lx, s.ly, 3, shirt);
    p->line(20, 22 + b, s.rx, s.ry, 3, shirt);
    p->ellipse(s.lx, s.ly, 1.6, 1.6, skin);
    p->ellipse(s.rx, s.ry, 1.6, 1.6, skin);
    p->ellipse(16, 14 + b, 4, 4.6, skin);
    p->rect(11.5, 8 + b, 20.5, 11 + b, rgba(30, 30, 30));  // cap
    p->rect(18, 10 + b, 22.5, 11 + b, rgba(30, 30, 30));   // its peak
}

// A flag on a pole held at (hx, hy), the pole leaning `lean` radians from
// upright (positive to the right). The cloth hangs from the top of the
// pole on the side away from the lean and ripples with `phase` (0..1).
void flag(pen* p, double hx, double hy, double lean, uint32_t colour, bool chequered, double phase)
{
    const double pole = 10, width = 9, height = 6.5;
    double ux = std::sin(lean), uy = -std::cos(lean);  // up the pole
    // Across the pole, away from the lean.
    double nx = lean >= 0 ? -std::cos(lean) : std::cos(lean), ny = lean >= 0 ? -std::sin(lean) : std::sin(lean);
    double tx = hx + ux * pole, ty = hy + uy * pole;
    p->line(hx, hy, tx, ty, 1.2, pole_colour);
    // A point of the cloth: i across (0 at the pole), j down from the top.
    auto at = [&](double i, double j, double* x, double* y) {
        double ripple = 1.2 * i * std::sin(2 * pi * (i * 0.9 - phase));
        *x = tx + nx * width * i - ux * (height * j + ripple);
        *y = ty + ny * width * i - uy * (height * j + ripple);
    };
    std::vector<double> outline;
    const int steps = 8;
    for (int k = 0; k <= steps; k++) {
        double x, y;
        at((double)k / steps, 0, &x, &y);
        outline.insert(outline.end(), {x, y});
    }
    for (int k = steps; k >= 0; k--) {
        double x, y;
        at((double)k / steps, 1, &x, &y);
        outline.insert(outline.end(), {x, y});
    }
    p->polygon(outline, colour);
    if (chequered)
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 3; j++) {
                if ((i + j) % 2)
                    continue;
                double q[8];
                at(i / 4.0, j / 3.0, &q[0], &q[1]);
                at((i + 1) / 4.0, j / 3.0, &q[2], &q[3]);
                at((i + 1) / 4.0, (j + 1) / 3.0, &q[4], &q[5]);
                at(i / 4.0, (j + 1) / 3.0, &q[6], &q[7]);
                p->polygon({q, q + 8}, rgba(12, 12, 12));
            }
}

// --- The starter -------------------------------------------------------------------

const uint32_t starter_shirt = rgba(240, 120, 20), board = rgba(250, 250, 250);

// The board held up in front of the face, turned `turn` (0 facing the
// riders, 1 edge on).
canvas starter_holding(double turn)
{
    pen p;
    double c = std::cos(turn * pi / 2);
    double half = std::max(2.0, 10 * c);
    figure(&p, starter_shirt, {9 + 5 * turn, 12 + 2 * turn, 23 - 1 * turn, 12 + 2 * turn});
    p.rect(16 - half, 2, 16 + half, 13 + 2 * turn, board);
    if (half >= 8)
        p.text(10 + (10 - half) * 0.6, 4, 1, "30", rgba(200, 20, 20));
    return p.c;
}

// The board, edge on, brought down to the waist and laid flat: g 0..1.
canvas starter_lowering(double g)
{
    pen p;
    double hy = 14 + 24 * g;
    figure(&p, starter_shirt, {14 - 4 * g, hy, 22, hy});
    double half = (4 + 14 * g * g) / 2;
    p.rect(16 - half, hy - 12 + 10 * g, 16 + half, hy + 1 + 7 * g, board);
    return p.c;
}

// Walking off with the board under the arm: phase 0..1 of a stride pair.
canvas starter_walking(double phase)
{
    pen p;
    double a = 2 * pi * phase, s = std::sin(a);
    pose w = {10 - 2 * s, 36, 23, 34};
    w.left_foot = 16 - 5 * s;
    w.right_foot = 16 + 5 * s;
    w.left_lift = std::max(0.0, 2 * std::cos(a));
    w.right_lift = std::max(0.0, -2 * std::cos(a));
    w.bob = 0.8 * std::fabs(s);
    figure(&p, starter_shirt, w);
    p.rect(20, 28 + w.bob, 24, 42 + w.bob, board);
    return p.c;
}

canvas starter_aside()
{
    pen p;
    figure(&p, starter_shirt, {10, 40, 22, 40});
    p.rect(22, 36, 26, 50, board);
    return p.c;
}

// --- The finish and course flaggers --------------------------------------------------

const uint32_t finish_shirt = rgba(30, 60, 160), marshal_shirt = rgba(250, 250, 250);

canvas standing(uint32_t shirt)
{
    pen p;
    figure(&p, shirt, {10, 40, 22, 40});
    return p.c;
}

// Two flags held crossed above the head, rippling.
canvas crossed_flags(double phase)
{
    pen p;
    figure(&p, finish_shirt, {8, 16, 24, 16});
    flag(&p, 8, 16, 0.42, rgba(40, 160, 60), false, phase);
    flag(&p, 24, 16, -0.42, rgba(40, 160, 60), false, phase + 0.5);
    return p.c;
}

// One flag swung from side to side overhead: swing -1..1.
canvas waving(uint32_t shirt, uint32_t colour, bool chequered, double swing, double phase)
{
    pen p;
    double hx = 24 + 1.5 * swing, hy = 17 - std::fabs(swing);
    figure(&p, shirt, {10, 40, hx, hy});
    flag(&p, hx, hy, 0.45 * swing, colour, chequered, phase);
    return p.c;
}

// Pictures of one swing across and back, and the ping-pong sequence that
// shows them.
void swing_cycle(uint32_t shirt, uint32_t colour, bool chequered, int count, std::vector<canvas>* pictures,
                 std::vector<int>* sequence)
{
    for (int k = 0; k < count; k++) {
        double swing = -1 + 2.0 * k / (count - 1);
        pictures->push_back(waving(shirt, colour, chequered, swing, (double)k / count));
    }
    for (int k = 0; k < count; k++)
        sequence->push_back(k);
    for (int k = count - 2; k > 0; k--)
        sequence->push_back(k);
}

bytes png(const canvas& c)
{
    return canvas_png(c, true);
}

// Ticks per picture for a one-off movement of `count` pictures that must
// reach its last picture within `seconds`.
int ticks_within(double seconds, int count)
{
    return std::max(1, (int)(seconds * ticks_per_second) / count);
}

}  // namespace

const char* const start_flagger_names[5] = {"flagger-start-hold.png", "flagger-start-turn.seq",
                                            "flagger-start-lower.seq", "flagger-start-walk.seq",
                                            "flagger-start-aside.png"};
const char* const finish_flagger_names[4] = {"flagger-finish-none.png", "flagger-finish-half.seq",
                                             "flagger-finish-white.seq", "flagger-finish-chequered.seq"};
const char* const course_flagger_name = "flagger-course.png";
const char* const course_flagger_alert_name = "flagger-course-alert.seq";

bytes seq_bytes(const std::vector<canvas>& pictures, const std::vector<int>& sequence, int ticks_per_frame,
                bool loop)
{
    if (pictures.empty() || sequence.empty() || ticks_per_frame < 1)
        return {};
    std::string head = "ANIM1\n" + std::to_string(sequence.size()) + " " + std::to_string(pictures.size()) + " " +
                       std::to_string(ticks_per_frame) + " " + (loop ? "1" : "0") + "\n";
    for (size_t k = 0; k < sequence.size(); k++)
        head += std::to_string(sequence[k]) + (k + 1 < sequence.size() ? " " : "\n");
    bytes out(head.begin(), head.end());
    for (const canvas& c : pictures) {
        if (c.width != pictures[0].width || c.height != pictures[0].height)
            return {};
        picture_bytes b;
        if (!encode_predictive(c.rgba.data(), c.width, c.height, 4, &b))
            return {};
        out.insert(out.end(), b.data, b.data + b.size);
        picture_bytes_free(&b);
        out.push_back('\n');
    }
    return out;
}

std::vector<flagger_file> flagger_files()
{
    std::vector<flagger_file> files;
    auto sequence_of = [](int n) {
        std::vector<int> s(n);
        for (int k = 0; k < n; k++)
            s[k] = k;
        return s;
    };

    // The starter: the board turns within 0.3 s and comes down within
    // 0.6 s of the drop (the windows the flagger rule gives t1 and t2).
    files.push_back({start_flagger_names[0], png(starter_holding(0))});
    std::vector<canvas> turn;
    for (int k = 0; k < 5; k++)
        turn.push_back(starter_holding(k / 4.0));
    files.push_back({start_flagger_names[1], seq_bytes(turn, sequence_of(5), ticks_within(0.3 * 0.9, 5), false)});
    std::vector<canvas> lower;
    for (int k = 0; k < 8; k++)
        lower.push_back(starter_lowering(k / 7.0));
    files.push_back({start_flagger_names[2], seq_bytes(lower, sequence_of(8), ticks_within(0.6 * 0.9, 8), false)});
    std::vector<canvas> walk;
    for (int k = 0; k < 12; k++)
        walk.push_back(starter_walking(k / 12.0));
    // Two steps a second.
    files.push_back({start_flagger_names[3], seq_bytes(walk, sequence_of(12), ticks_per_second / 12, true)});
    files.push_back({start_flagger_names[4], png(starter_aside())});

    files.push_back({finish_flagger_names[0], png(standing(finish_shirt))});
    std::vector<canvas> crossed;
    for (int k = 0; k < 6; k++)
        crossed.push_back(crossed_flags(k / 6.0));
    files.push_back({finish_flagger_names[1], seq_bytes(crossed, sequence_of(6), 10, true)});
    std::vector<canvas> pictures;
    std::vector<int> sequence;
    swing_cycle(finish_shirt, rgba(250, 250, 250), false, 7, &pictures, &sequence);
    files.push_back({finish_flagger_names[2], seq_bytes(pictures, sequence, 10, true)});
    pictures.clear();
    sequence.clear();
    // The chequered flag waves faster.
    swing_cycle(finish_shirt, rgba(250, 250, 250), true, 7, &pictures, &sequence);
    files.push_back({finish_flagger_names[3], seq_bytes(pictures, sequence, 6, true)});

    pen furled;
    figure(&furled, marshal_shirt, {10, 40, 22, 40});
    furled.line(22, 40, 24, 60, 1.2, pole_colour);
    furled.rect(23, 44, 26, 56, rgba(240, 210, 30));
    files.push_back({course_flagger_name, png(furled.c)});
    pictures.clear();
    sequence.clear();
    swing_cycle(marshal_shirt, rgba(250, 220, 20), false, 7, &pictures, &sequence);
    files.push_back({course_flagger_alert_name, seq_bytes(pictures, sequence, 8, true)});
    return files;
}

}  // namespace mkdata
