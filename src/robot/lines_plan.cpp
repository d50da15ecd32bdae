// Chaining lines: which line can follow which, the cheapest chains over the
// next sections (a robot's preference) and over whole laps (the lap
// plans), and the thinning of crowded first-lap rows when a file is read.
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/log.h"
#include "race/race.h"
#include "robot/lines.h"

namespace {

// A chain that has to jump between lines that do not connect costs as
// much as ten untested lines, so any connected chain is preferred but a
// chain always exists.
const double k_break = 10000000.0;
const double k_none = 1e18;

// The arc a line ends on, worked out once for all the lines that may follow.
struct line_end {
    bool ok = false;
    double cx = 0, cz = 0, rho = 0;
    float speed = 0;
};

line_end end_of(const racing_line& l)
{
    line_end e;
    if (!l.points || l.point_count < 3)
        return e;
    const line_point& last = l.points[l.point_count - 1];
    line_circle_centre(l.points[l.point_count - 3], l.points[l.point_count - 2], last, &e.cx, &e.cz);
    e.rho = hypot(last.x - e.cx, last.z - e.cz);
    e.speed = fabsf(last.speed);
    e.ok = true;
    return e;
}

bool follows(const line_end& e, const racing_line& j)
{
    if (!e.ok || !j.points || j.point_count < 2 || e.speed > fabsf(j.points[0].speed) + 15.0f)
        return false;
    const double d0 = hypot(j.points[0].x - e.cx, j.points[0].z - e.cz);
    const double d1 = hypot(j.points[1].x - e.cx, j.points[1].z - e.cz);
    const double inner = e.rho - 2.5 > 0.0 ? e.rho - 2.5 : 0.0;
    return d0 >= inner && d0 <= e.rho + 2.5 && fabs(d1 - d0) <= 2.0;
}

// The nodes of one row in a chain: its lines, or one stand-in (slot -1,
// cost 0) for a row without any, so the chain passes through it.
struct chain_row {
    int row = -1;
    int slots[LINES_PER_ROW];
    double cost[LINES_PER_ROW];
    line_end ends[LINES_PER_ROW];
    int count = 0;
};

void fill_row(const line_table* t, int row, int type, chain_row* out)
{
    out->row = row;
    out->count = 0;
    if (row >= 0 && row < t->row_count)
        for (int i = 0; i < LINES_PER_ROW; i++) {
            const racing_line& l = t->rows[row].lines[i];
            if (!l.points)
                continue;
            out->slots[out->count] = i;
            out->cost[out->count] = line_cost(&l, type);
            out->ends[out->count] = end_of(l);
            out->count++;
        }
    if (out->count == 0) {
        out->slots[0] = -1;
        out->cost[0] = 0.0;
        out->ends[0] = line_end();
        out->count = 1;
    }
}

// What stepping from node a of one row to node b of the next costs.
double step_cost(const line_table* t, const chain_row& from, int a, const chain_row& to, int b)
{
    if (from.slots[a] < 0 || to.slots[b] < 0)
        return k_break;
    return follows(from.ends[a], t->rows[to.row].lines[to.slots[b]]) ? 0.0 : k_break;
}

// Step costs between every node of two rows, row-major.
void step_matrix(const line_table* t, const chain_row& from, const chain_row& to, std::vector<double>* out)
{
    out->assign((size_t)from.count * (size_t)to.count, 0.0);
    for (int a = 0; a < from.count; a++)
        for (int b = 0; b < to.count; b++)
            (*out)[(size_t)a * (size_t)to.count + (size_t)b] = step_cost(t, from, a, to, b);
}

// The cheapest chain through rows[0 .. n-1] (a path, or a cycle back to its
// first node): the total and the node per row. False when n is 0.
bool cheapest_chain(const line_table* t, const std::vector<chain_row>& rows, bool cycle, double* total,
                    std::vector<int>* nodes)
{
    const size_t n = rows.size();
    if (n == 0)
        return false;
    std::vector<std::vector<double>> steps(n);
    for (size_t i = 0; i + 1 < n; i++)
        step_matrix(t, rows[i], rows[i + 1], &steps[i]);
    if (cycle)
        step_matrix(t, rows[n - 1], rows[0], &steps[n - 1]);

    std::vector<std::vector<double>> best(n);
    std::vector<std::vector<int>> from(n);
    double best_total = k_none;
    const int starts = cycle ? rows[0].count : 1;
    for (int s = 0; s < starts; s++) {
        // Row 0: only the start node for a cycle, every node for a path.
        best[0].assign((size_t)rows[0].count, k_none);
        for (int a = 0; a < rows[0].count; a++)
            if (!cycle || a == s)
                best[0][(size_t)a] = rows[0].cost[a];
        for (size_t i = 1; i < n; i++) {
            const chain_row& r = rows[i];
            const int prev = rows[i - 1].count;
            best[i].assign((size_t)r.count, k_none);
            from[i].assign((size_t)r.count, 0);
            for (int b = 0; b < r.count; b++) {
                double m = k_none;
                int arg = 0;
                for (int a = 0; a < prev; a++) {
                    const double c = best[i - 1][(size_t)a] + steps[i - 1][(size_t)a * (size_t)r.count + (size_t)b];
                    if (c < m) {
                        m = c;
                        arg = a;
                    }
                }
                best[i][(size_t)b] = m + r.cost[b];
                from[i][(size_t)b] = arg;
            }
        }
        double m = k_none;
        int arg = 0;
        for (int a = 0; a < rows[n - 1].count; a++) {
            double c = best[n - 1][(size_t)a];
            if (cycle)
                c += steps[n - 1][(size_t)a * (size_t)rows[0].count + (size_t)s];
            if (c < m) {
                m = c;
                arg = a;
            }
        }
        if (m < best_total) {
            best_total = m;
            nodes->assign(n, 0);
            int node = arg;
            for (size_t i = n; i-- > 0;) {
                (*nodes)[i] = node;
                if (i > 0)
                    node = from[i][(size_t)node];
            }
        }
    }
    *total = best_total;
    return best_total < k_none;
}

// ---- thinning -------------------------------------------------------------------

struct box {
    float x0, z0, x1, z1;
};

box box_of(const line_point& a, const line_point& b)
{
    return box{fminf(a.x, b.x), fminf(a.z, b.z), fmaxf(a.x, b.x), fmaxf(a.z, b.z)};
}

bool boxes_meet(const box& a, const box& b)
{
    return a.x0 <= b.x1 && b.x0 <= a.x1 && a.z0 <= b.z1 && b.z0 <= a.z1;
}

float side_of(const line_point& a, const line_point& b, const line_point& p)
{
    return (b.x - a.x) * (p.z - a.z) - (b.z - a.z) * (p.x - a.x);
}

// Each segment's ends lie on opposite sides of the other's line.
bool segments_cross(const line_point& p1, const line_point& p2, const line_point& q1, const line_point& q2)
{
    return (side_of(q1, q2, p1) < 0.0f) != (side_of(q1, q2, p2) < 0.0f) &&
           (side_of(p1, p2, q1) < 0.0f) != (side_of(p1, p2, q2) < 0.0f);
}

bool paths_cross(const racing_line& a, const racing_line& b)
{
    box ba{a.points[0].x, a.points[0].z, a.points[0].x, a.points[0].z};
    for (int i = 1; i < a.point_count; i++)
        ba = box{fminf(ba.x0, a.points[i].x), fminf(ba.z0, a.points[i].z), fmaxf(ba.x1, a.points[i].x),
                 fmaxf(ba.z1, a.points[i].z)};
    for (int j = 0; j + 1 < b.point_count; j++) {
        const box sb = box_of(b.points[j], b.points[j + 1]);
        if (!boxes_meet(ba, sb))
            continue;
        for (int i = 0; i + 1 < a.point_count; i++)
            if (boxes_meet(box_of(a.points[i], a.points[i + 1]), sb) &&
                segments_cross(a.points[i], a.points[i + 1], b.points[j], b.points[j + 1]))
                return true;
    }
    return false;
}

double mean_total(const racing_line& l)
{
    return (double)(l.sum_total / l.runs);
}

// Of two lines crossing as many others, the faster one goes: crossing the
// others and still beating them, it most likely cut across the section.
bool faster(const racing_line& candidate, const racing_line& chosen)
{
    if (candidate.runs > 0 && chosen.runs > 0)
        return mean_total(candidate) < mean_total(chosen);
    if (candidate.runs == 0 && chosen.runs == 0)
        return candidate.time_total < chosen.time_total;
    return candidate.runs > 0 && chosen.runs == 0;
}

void thin_row(line_table* t, int row)
{
    line_row& r = t->rows[row];
    while (lines_in_row(t, row) >= 44) {
        int crossings[LINES_PER_ROW] = {};
        for (int i = 0; i < LINES_PER_ROW; i++)
            for (int j = i + 1; j < LINES_PER_ROW; j++)
                if (r.lines[i].points && r.lines[j].points && paths_cross(r.lines[i], r.lines[j])) {
                    crossings[i]++;
                    crossings[j]++;
                }
        int chosen = -1;
        for (int i = 0; i < LINES_PER_ROW; i++) {
            if (!r.lines[i].points || crossings[i] < 1)
                continue;
            if (chosen < 0 || crossings[i] > crossings[chosen] ||
                (crossings[i] == crossings[chosen] && faster(r.lines[i], r.lines[chosen])))
                chosen = i;
        }
        if (chosen >= 0)
            lines_evict(t, row, chosen);
        const int victim = line_eviction_victim(t, row, nullptr);
        if (victim >= 0)
            lines_evict(t, row, victim);
    }
}

}  // namespace

bool lines_connect(const racing_line* i, const racing_line* j)
{
    return follows(end_of(*i), *j);
}

void lines_chain_costs(const line_table* t, int type, int section, int span, double best[LINES_PER_ROW])
{
    for (int i = 0; i < LINES_PER_ROW; i++)
        best[i] = k_none;
    const int first = line_row_of_section(t, section);
    if (first < 0 || span < 1)
        return;
    // From the far end back: what the rest of the chain costs after each
    // node of a row.
    chain_row next, here;
    std::vector<double> after, rest;
    fill_row(t, line_row_of_section(t, section + span - 1), type, &next);
    after.assign(next.cost, next.cost + next.count);
    for (int i = span - 2; i >= 0; i--) {
        fill_row(t, line_row_of_section(t, section + i), type, &here);
        rest.assign((size_t)here.count, k_none);
        for (int a = 0; a < here.count; a++) {
            double m = k_none;
            for (int b = 0; b < next.count; b++) {
                const double c = after[(size_t)b] + step_cost(t, here, a, next, b);
                m = c < m ? c : m;
            }
            rest[(size_t)a] = here.cost[a] + m;
        }
        next = here;
        after.swap(rest);
    }
    for (int a = 0; a < next.count; a++)
        if (next.slots[a] >= 0)
            best[next.slots[a]] = after[(size_t)a];
}

void lines_compute_plans(line_table* t)
{
    if (t->row_count <= 0)
        return;
    for (int type = 0; type < LINE_PLAN_TYPES; type++) {
        int* plan = t->plans[type];
        memset(plan, 0, sizeof(int) * (size_t)t->row_count);
        for (int part = 0; part < 2; part++) {
            const int from = part == 0 ? 0 : t->first_sections;
            const int count = part == 0 ? t->first_sections : t->lap_sections;
            std::vector<chain_row> rows((size_t)count);
            for (int i = 0; i < count; i++)
                fill_row(t, from + i, type, &rows[(size_t)i]);
            double total = 0;
            std::vector<int> nodes;
            if (!cheapest_chain(t, rows, part == 1, &total, &nodes))
                continue;
            for (int i = 0; i < count; i++) {
                const int slot = rows[(size_t)i].slots[nodes[(size_t)i]];
                plan[from + i] = slot >= 0 ? t->rows[from + i].lines[slot].serial : 0;
            }
            if (t->debug)
                log_printf(part == 0 ? "First lap: %f\n" : "Normal lap: %f\n", total / RACE_TICKS_PER_SECOND);
        }
    }
}

void lines_thin(line_table* t)
{
    for (int row = 0; row < t->first_sections && row < t->row_count; row++)
        thin_row(t, row);
}
