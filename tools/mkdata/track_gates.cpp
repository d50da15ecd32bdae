// The timing gates of a generated track: the starting gate pieces across
// the chute, the checkpoints round the lap and the two lap sequences.
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "track_content.h"

namespace mkdata {

std::vector<double> timing_checkpoint_stations(const track_design& d)
{
    // No checkpoint on a take-off, a deck or a landing, where it would
    // split a jump between two racing-line sections; in whoops only when
    // a row is too long to be spanned otherwise.
    std::vector<std::pair<double, double>> jumps, whoops;
    for (const track_feature& f : d.features) {
        if (f.kind == feature_kind::tabletop || f.kind == feature_kind::double_jump)
            jumps.emplace_back(f.s_begin - 5, f.s_end + 5);
        if (f.kind == feature_kind::whoops)
            whoops.emplace_back(f.s_begin - 5, f.s_end + 5);
    }
    auto inside = [](const std::vector<std::pair<double, double>>& ranges, double s) {
        for (const auto& a : ranges)
            if (s > a.first && s < a.second)
                return true;
        return false;
    };
    const double whoops_cost = 1e6;
    // Candidates every 2 ft; the start/finish point begins and ends the lap.
    const double step = 2;
    std::vector<double> nodes, node_cost;
    nodes.push_back(0);
    node_cost.push_back(0);
    for (double s = step; s < d.length - step / 2; s += step)
        if (!inside(jumps, s)) {
            nodes.push_back(s);
            node_cost.push_back(inside(whoops, s) ? whoops_cost : 0);
        }
    nodes.push_back(d.length);
    node_cost.push_back(0);
    // Shortest path: every gap within the bounds, the sum of squared
    // distances from the aimed gap smallest. Ties keep the earlier
    // predecessor, so the result never depends on anything but the design.
    const double inf = std::numeric_limits<double>::infinity();
    const size_t n = nodes.size();
    std::vector<double> cost(n, inf);
    std::vector<size_t> from(n, 0);
    cost[0] = 0;
    size_t lo = 0;
    for (size_t j = 1; j < n; j++) {
        while (lo < j && nodes[j] - nodes[lo] > checkpoint_gap_max)
            lo++;
        for (size_t i = lo; i < j; i++) {
            double gap = nodes[j] - nodes[i];
            if (gap < checkpoint_gap_min)
                break;
            if (cost[i] == inf)
                continue;
            double c = cost[i] + node_cost[j] + (gap - checkpoint_gap_aim) * (gap - checkpoint_gap_aim);
            if (c < cost[j]) {
                cost[j] = c;
                from[j] = i;
            }
        }
    }
    std::vector<double> out;
    if (cost[n - 1] == inf)
        return out;
    for (size_t k = from[n - 1]; k != 0; k = from[k])
        out.insert(out.begin(), nodes[k]);
    out.push_back(0);  // the finish line closes the lap
    return out;
}

gate_layout design_gate_layout(const track_design& d)
{
    gate_layout t;
    for (int i = 0; i < d.chute.gate_pieces; i++)
        t.pieces.push_back(design_gate_piece(d, i));
    for (double s : timing_checkpoint_stations(d))
        t.checkpoints.push_back(design_checkpoint_at(d, s, checkpoint_margin));
    for (int k = 0; k < (int)t.checkpoints.size(); k++) {
        t.first_lap.push_back(k);
        t.normal_lap.push_back(k);
    }
    return t;
}

std::string timing_gates_text(const gate_layout& t, const heightfield* hf)
{
    std::string text;
    char line[256];
    if (!t.pieces.empty()) {
        text += "startinggate:\n";
        for (const gate_piece& p : t.pieces) {
            // The default model, texture and shape: nothing after the angle.
            snprintf(line, sizeof line, "[%f %f %f] %f\n", p.x, 0.0, p.z, p.angle);
            text += line;
        }
    }
    if (!t.checkpoints.empty()) {
        text += "checkpoints:\n";
        for (const design_checkpoint& c : t.checkpoints) {
            double y = heightfield_height_at(hf, (float)c.x, (float)c.z);
            snprintf(line, sizeof line, "%f [%f %f %f] [%f %f %f]\n", c.radius, c.x, y, c.z, c.dx, 0.0, c.dz);
            text += line;
        }
    }
    if (!t.first_lap.empty()) {
        text += "firstlap:\n";
        for (int e : t.first_lap)
            text += std::to_string(e) + " ";
        text += "\n";
    }
    if (!t.normal_lap.empty()) {
        text += "normallap:\n";
        for (int e : t.normal_lap)
            text += std::to_string(e) + " ";
        text += "\n";
    }
    return text;
}

}  // namespace mkdata
