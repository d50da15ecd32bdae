// The race's heads-up display: pit board, gauges, track map, race length
// banner, results table, read-outs and the suspension graph.
#include <GL/gl.h>
#include <ode/ode.h>

#include <cmath>
#include <cstdio>

#include "bike/bike.h"
#include "core/frame_timing.h"
#include "core/messages.h"
#include "race/world.h"
#include "render/scene.h"
#include "render/texture.h"
#include "track/heightfield.h"
#include "ui/font.h"
#include "ui/hud.h"
#include "ui/hud_draw_util.h"

namespace {

const float pi = 3.14159265f;

struct hud_images {
    unsigned tach = 0, shifter = 0, pitboard = 0;
};
hud_images g_images;

// The pit board in the lower left: number and position, gap, last and
// best lap on the slate's four rows; the lapping warning centred above.
void draw_pit_board(const world* w, const hud_frame& f)
{
    pit_board board;
    if (!pit_board_of(w, f.watched_slot, &board))
        return;
    const float bh = f.height * 0.2f, bw = 2 * bh;
    const float x0 = f.height * 0.02f, y0 = f.height * 0.02f;
    hud_picture(g_images.pitboard, x0, y0, x0 + bw, y0 + bh);
    // The slate inside the frame: x 24..246 and y 10..118 of 256 x 128.
    const float sx = x0 + bw * 28 / 256, top = y0 + bh * (128 - 10) / 128.0f;
    const float row = bh * 27 / 128.0f, size = row * 0.8f;
    char first[64];
    snprintf(first, sizeof first, "%s  %s", board.number, board.position);
    const char* rows[4] = {first, board.gap, board.last, board.best};
    for (int i = 0; i < 4; i++)
        hud_text(sx, top - (i + 1) * row + row * 0.1f, size, 1, 1, 0.85f, 1, rows[i], false);
    if (board.lapping[0])
        hud_text_centred(f.width / 2.0f, y0 + bh + size, size, 1, 0.3f, 0.2f, 1, board.lapping, true);
}

// The tachometer at the lower right with its red needle, the gear cell left
// of it and the lean arrow above the gear.
void draw_gauges(const world* w, const hud_frame& f)
{
    const bike* b = w->race.slots[f.watched_slot].b;
    if (!b)
        return;
    const float size = f.height * 0.25f;
    const float x0 = f.width - size - f.height * 0.02f, y0 = f.height * 0.02f;
    hud_picture(g_images.tach, x0, y0, x0 + size, y0 + size);
    const float rpm = b->engine_speed * 60.0f / (2 * pi);
    const float turn = (rpm * 0.000046875f - 0.375f) * 2 * pi;
    const float cx = x0 + size / 2, cy = y0 + size / 2, len = size * 0.42f;
    // Clockwise from straight up.
    const float dx = std::sin(turn), dy = std::cos(turn);
    const float half = size * 0.012f;
    glDisable(GL_TEXTURE_2D);
    glColor4f(0.9f, 0.05f, 0.05f, 1);
    glBegin(GL_TRIANGLES);
    glVertex2f(cx - dy * half * 2, cy + dx * half * 2);
    glVertex2f(cx + dy * half * 2, cy - dx * half * 2);
    glVertex2f(cx + dx * len, cy + dy * len);
    glEnd();

    const float cell = f.height * 0.1f;
    const float gx = x0 - cell - f.height * 0.01f, gy = y0;
    const int gear = b->gear < 0 ? 0 : b->gear;
    const float col = (float)(gear % 3), r = (float)(gear / 3 % 3);
    hud_picture(g_images.shifter, gx, gy, gx + cell, gy + cell, col / 3, r / 3, (col + 1) / 3, (r + 1) / 3);

    if (!f.lean_indicator || !w->track.heightfield.heights || !b->bodies[body_frame])
        return;
    // The slope under the bike in the bike's own frame: the ground normal's
    // lean forward or back as the rider feels it.
    const dReal* p = dBodyGetPosition(b->bodies[body_frame]);
    const dReal* m = dBodyGetRotation(b->bodies[body_frame]);
    const vec3 n = heightfield_face_normal_at(&w->track.heightfield, (float)p[0], (float)p[2]);
    // Bike axes: up = column 1, forward = -column 2 of the rotation.
    const float up = (float)(m[1] * n.x + m[5] * n.y + m[9] * n.z);
    const float forward = (float)(-(m[2] * n.x + m[6] * n.y + m[10] * n.z));
    const float angle = std::atan2(forward, up);
    const bool warn = std::fabs(angle) > 0.6283f;
    const float ax = gx + cell / 2, ay = gy + cell * 1.7f, al = cell * 0.45f;
    glPushMatrix();
    glTranslatef(ax, ay, 0);
    glRotatef(-angle * 180 / pi, 0, 0, 1);
    glColor4f(warn ? 1.0f : 1.0f, warn ? 0.15f : 1.0f, warn ? 0.1f : 1.0f, 0.9f);
    glBegin(GL_TRIANGLES);
    glVertex2f(-al * 0.35f, al * 0.2f);
    glVertex2f(al * 0.35f, al * 0.2f);
    glVertex2f(0, al);
    glEnd();
    glBegin(GL_QUADS);
    glVertex2f(-al * 0.12f, -al);
    glVertex2f(al * 0.12f, -al);
    glVertex2f(al * 0.12f, al * 0.2f);
    glVertex2f(-al * 0.12f, al * 0.2f);
    glEnd();
    glPopMatrix();
}

// The track map at the top right with every rider on it.
void draw_map(const world* w, const hud_frame& f)
{
    const heightfield& hf = w->track.heightfield;
    if (!w->track.map_texture || !(hf.extent > 0))
        return;
    float scale = (float)f.map_scale;
    scale = scale < 0.125f ? 0.125f : scale > 8 ? 8 : scale;
    const float size = f.height * 0.3f * scale;
    const float x0 = f.width - size - f.height * 0.02f, y1 = f.height - f.height * 0.02f;
    hud_picture(w->track.map_texture, x0, y1 - size, x0 + size, y1, 0, 0, 1, 1, 0.85f);
    const race_state& r = w->race;
    const int leader = r.ranking_count > 0 ? r.ranking[0].slot : -1;
    const float mark = size / 128, border = mark * 0.35f;
    auto place = [&](const bike* b, float* mx, float* my) {
        const dReal* p = dBodyGetPosition(b->bodies[body_frame]);
        *mx = x0 + (float)p[0] / hf.extent * size;
        *my = y1 - (float)p[2] / hf.extent * size;
    };
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        const bike* b = r.slots[slot].b;
        if (!b || slot == f.watched_slot || !b->bodies[body_frame])
            continue;
        float mx, my;
        place(b, &mx, &my);
        float c[3] = {1, 1, 1};
        if (b->finished)
            c[0] = c[1] = c[2] = 0.25f;
        else if (slot == leader)
            c[0] = c[2] = 0;
        const float h = mark / 2;
        hud_rect(mx - h - border, my - h - border, mx + h + border, my + h + border, 0, 0, 0, 1);
        hud_rect(mx - h, my - h, mx + h, my + h, c[0], c[1], c[2], 1);
    }
    const bike* b = r.slots[f.watched_slot].b;
    if (!b || !b->bodies[body_frame])
        return;
    float mx, my;
    place(b, &mx, &my);
    // The frame's forward axis (-z) on the map, where +z points down.
    const dReal* m = dBodyGetRotation(b->bodies[body_frame]);
    const float fx = (float)-m[2], fz = (float)-m[10];
    const float heading = std::atan2(fx, -fz);  // 0: up the map
    const float len = mark * 3;
    glPushMatrix();
    glTranslatef(mx, my, 0);
    glRotatef(-heading * 180 / pi, 0, 0, 1);
    glDisable(GL_TEXTURE_2D);
    for (int pass = 0; pass < 2; pass++) {
        const float grow = pass == 0 ? border * 2 : 0;
        if (pass == 0)
            glColor4f(0, 0, 0, 1);
        else
            glColor4f(1, 0, 0, 1);
        glBegin(GL_TRIANGLES);
        glVertex2f(0, len + grow);
        glVertex2f(-len * 0.6f - grow, -len * 0.7f - grow);
        glVertex2f(len * 0.6f + grow, -len * 0.7f - grow);
        glEnd();
    }
    glPopMatrix();
}

// The track's name and the race length, fading out between 2 and 3 s.
void draw_banner(const world* w, const hud_frame& f)
{
    const double t = w->race.tick * TICK_SECONDS;
    const float alpha = banner_alpha(t);
    if (alpha <= 0 || w->race.time_trial)
        return;
    char length[64];
    if (f.event_name && f.event_name[0])
        snprintf(length, sizeof length, "%.60s", f.event_name);
    else
        race_length_text(w->race.race_minutes_ticks, w->race.extra_laps, length, sizeof length);
    const float size = f.height / 15.0f;
    const float cy = f.height * 0.62f;
    hud_text_centred(f.width / 2.0f, cy, size, 1, 1, 1, alpha, track_display_name(w->track.dir), true);
    hud_text_centred(f.width / 2.0f, cy - 1.3f * size, size * 0.75f, 1, 1, 0.6f, alpha, length, true);
}

// The results table on the right once the first rider of the shown ranking
// is through the finish.
void draw_results(const world* w, const hud_frame& f)
{
    static results_table table;
    results_table_of(w, f.watched_slot, &table);
    if (!table.shown)
        return;
    const float size = f.height / 36.0f;
    const float column[6] = {0, 2.6f, 5.0f, 7.4f, 11.6f, 16.6f};
    const float wide = 19.5f * size;
    const float x0 = f.width - wide - f.height * 0.02f;
    float y = f.height * 0.64f;
    const int lines = table.count + table.penalty_count + 4;
    hud_rect(x0 - 0.5f * size, y - lines * size - 0.5f * size, x0 + wide, y + 1.6f * size, 0, 0, 0, 0.45f);
    hud_text(x0, y, size * 1.2f, 1, 1, 1, 1, table.final ? "Final Results" : "Unofficial Results", true);
    y -= 1.4f * size;
    const char* titles[6] = {"Pos.", "No.", "Lap", "Gap", "Best Time", "BLap"};
    for (int k = 0; k < 6; k++)
        hud_text(x0 + column[k] * size, y, size, 0.9f, 0.9f, 0.5f, 1, titles[k], true);
    for (int i = 0; i < table.count; i++) {
        y -= size;
        if (i % 2)
            hud_rect(x0 - 0.2f * size, y - 0.1f * size, x0 + wide - 0.3f * size, y + 0.95f * size, 1, 1, 1, 0.12f);
        char cols[6][32];
        results_row_texts(table.rows[i], cols);
        const float c = table.rows[i].watched ? 1.0f : 0.75f;
        for (int k = 0; k < 6; k++)
            hud_text(x0 + column[k] * size, y, size, c, c, c, 1, cols[k], true);
    }
    if (!table.final)
        return;
    y -= 1.4f * size;
    hud_text(x0, y, size, 1, 1, 1, 1, table.total, true);
    for (int i = 0; i < table.penalty_count; i++) {
        y -= size;
        hud_text(x0, y, size * 0.85f, 1, 0.6f, 0.4f, 1, table.penalties[i], true);
    }
}

// The read-outs and the message lines at the top left.
void draw_readouts(hud_state* s, const world* w, const hud_frame& f)
{
    readout_input in;
    in.fps_on = f.draw_fps;
    in.fps = s->fps;
    in.time_on = f.draw_time;
    in.ping_on = f.draw_ping;
    in.ping_ms = f.ping_ms;
    in.offset_ms = f.offset_ms;
    in.speed_on = f.draw_speed;
    const bike* b = w->race.slots[f.watched_slot].b;
    if (b && b->bodies[body_frame]) {
        const dReal* v = dBodyGetLinearVel(b->bodies[body_frame]);
        in.speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    }
    in.render_stats = f.render_stats;
    const long now[6] = {0, g_scene_statistics.model_triangles, g_scene_statistics.billboards, 0,
                         g_scene_statistics.texture_changes, g_scene_statistics.shader_changes};
    for (int k = 0; k < 6; k++) {
        if (now[k] > s->stats_max[k])
            s->stats_max[k] = now[k];
        in.stats[k][0] = now[k];
        in.stats[k][1] = s->stats_max[k];
    }
    in.dabbing = f.dabbing;
    char lines[READOUT_LINES_MAX][DISPLAY_TEXT_MAX];
    const int n = readout_lines(w, in, lines, READOUT_LINES_MAX);
    const float size = f.height / 30.0f;
    float y = f.height - 1.2f * size;
    for (int i = 0; i < n; i++, y -= size)
        hud_text(size * 0.4f, y, size, 1, 1, 1, 1, lines[i], true);
    // Oldest visible message first.
    int visible = 0;
    while (visible_message(visible))
        visible++;
    for (int i = visible - 1; i >= 0; i--, y -= size)
        hud_text(size * 0.4f, y, size, 1, 1, 1, 1, visible_message(i), true);
}

// The two panels of the suspension graph along the bottom middle.
void draw_graph(const hud_state* s, const hud_frame& f)
{
    const float pw = f.width * 0.3f, ph = f.height * 0.18f;
    const float y0 = f.height * 0.3f;
    const char* labels[6] = {" Fork Position", " Fork Speed (High)", " Fork Speed (Low)",
                             " Swingarm Position", " Shock Speed (High)", " Shock Speed (Low)"};
    const float colours[3][3] = {{1, 1, 1}, {0, 1, 0}, {1, 0, 0}};
    for (int panel = 0; panel < 2; panel++) {
        const float x0 = f.width * (panel == 0 ? 0.18f : 0.52f);
        hud_rect(x0, y0, x0 + pw, y0 + ph, 0, 0, 0, 0.5f);
        for (int k = 0; k < 3; k++) {
            const float* v = s->graph.samples[panel * 3 + k];
            // Positions run 0..1 of the travel; speeds +-10 ft/s around the middle.
            const float scale = k == 0 ? ph : ph / 20, base = k == 0 ? y0 : y0 + ph / 2;
            glColor4f(colours[k][0], colours[k][1], colours[k][2], 1);
            glBegin(GL_LINE_STRIP);
            for (int i = 0; i < SUSPENSION_GRAPH_SAMPLES; i++) {
                float y = base + v[i] * scale;
                y = y < y0 ? y0 : y > y0 + ph ? y0 + ph : y;
                glVertex2f(x0 + pw * i / (SUSPENSION_GRAPH_SAMPLES - 1), y);
            }
            glEnd();
            const float size = f.height / 45.0f;
            hud_text(x0, y0 + ph + (2 - k) * size + 2, size, colours[k][0], colours[k][1], colours[k][2], 1,
                     labels[panel * 3 + k], true);
        }
    }
}

}  // namespace

void hud_load_images()
{
    g_images.tach = texture_get("!@tach.png");
    g_images.shifter = texture_get("!@shifter.png");
    g_images.pitboard = texture_get("!@pitboard.png");
    texture_get("!@title.png");
}

void hud_reset_render_stats(hud_state* s)
{
    for (long& m : s->stats_max)
        m = 0;
}

void hud_sample_suspension(hud_state* s, const world* w, int watched_slot)
{
    if (watched_slot < 0 || watched_slot >= RACE_SLOTS)
        return;
    const bike* b = w->race.slots[watched_slot].b;
    if (!b || !b->joints[joint_fork_slider])
        return;
    float values[SUSPENSION_GRAPH_TRACES];
    suspension_graph_sample(b, values);
    suspension_graph_push(&s->graph, values);
}

void draw_hud(hud_state* s, const world* w, const hud_frame& f)
{
    // The frame rate: frames counted since the last update, once a second.
    s->frames++;
    if (s->fps_since < 0 || f.sim_clock < s->fps_since)
        s->fps_since = f.sim_clock;
    if (f.sim_clock - s->fps_since >= 1.0) {
        s->fps = (int)std::lround(s->frames / (f.sim_clock - s->fps_since));
        s->frames = 0;
        s->fps_since = f.sim_clock;
    }
    hud_2d_begin(f.width, f.height);
    if (f.watched_slot >= 0 && f.watched_slot < RACE_SLOTS && w->track.dir[0]) {
        draw_map(w, f);
        draw_pit_board(w, f);
        draw_gauges(w, f);
        draw_banner(w, f);
        draw_results(w, f);
        if (f.suspension_graph)
            draw_graph(s, f);
    }
    draw_readouts(s, w, f);
    hud_2d_end();
}
