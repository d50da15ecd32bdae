// Writes the fuzz seeds that come from the game data but are not plain
// files of a track folder: members of the data archive (engine sounds,
// series, shapes, models, animations, pictures), and inputs made with the
// project's own writers (a small archive, gzip files, predictive and text
// pictures, bike snapshots, erosion messages).
//
//   kessrig_fuzz_seeds OUT_DIR
//
// The data comes from KZ_HOME as the game finds it. Every seed goes to
// OUT_DIR/TARGET/NAME; a harness whose first byte picks the reader gets
// that byte in front.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "bike/snapshot.h"
#include "files/archive.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "race/series.h"
#include "render/picture.h"
#include "track/erosion.h"
#include "track/heightfield.h"

namespace {

std::string g_out;
int g_written = 0;

bool ends_with(const std::string& s, const char* suffix)
{
    const size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

void put(const char* target, std::string name, const std::string& bytes)
{
    for (char& c : name)
        if (c == '/')
            c = '_';
    const std::string dir = g_out + "/" + target;
    mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
        fprintf(stderr, "kessrig_fuzz_seeds: cannot write %s\n", path.c_str());
        exit(1);
    }
    g_written++;
}

bool read_member(const std::string& name, std::string* out)
{
    data_stream* s = open_data_file(("@" + name).c_str(), "rb");
    if (!s)
        return false;
    out->clear();
    char buffer[16384];
    size_t n;
    while ((n = stream_read(s, buffer, sizeof buffer)) > 0)
        out->append(buffer, n);
    close_data_file(s);
    return true;
}

std::string bytes_of(picture_bytes& b)
{
    std::string s(reinterpret_cast<const char*>(b.data), b.size);
    picture_bytes_free(&b);
    return s;
}

// A series file alone, and followed (after a zero byte, as the harness
// splits them) by standings of two events: every rider placed.
void series_seeds(const std::string& name, const std::string& bytes)
{
    put("race_series", name, bytes);
    FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    data_stream in;
    if (!f || !start_stream(&in, f, 0, 0x7fffffff, false, false))
        exit(1);
    static const char* const tracks[] = {"rabbithill", "stadium"};
    points_series series;
    const bool ok = series_parse(&in, name.c_str(), tracks, 2, 0, &series);
    end_stream(&in);
    if (!ok)
        return;
    std::string standings = bytes + std::string(1, '\0');
    for (int event = 0; event < 2; event++) {
        for (int r = 0; r <= series.robot_count; r++)
            standings += std::to_string(1 + (r + event) % (series.robot_count + 1)) + " ";
        standings += "\n";
    }
    series_free(&series);
    put("race_series", name + "_standings", standings);
}

// Archive members by kind; pictures and models only while small, so the
// corpus stays quick to replay.
void archive_members()
{
    const char* const* list = build_file_index();
    int pictures = 0, maps = 0;
    for (int i = 0; list[i]; i++) {
        const std::string name = list[i];
        // Track folders are taken as files by make-corpus.sh.
        if (name.rfind("rabbithill/", 0) == 0 || name.rfind("stadium/", 0) == 0)
            continue;
        std::string bytes;
        if (!read_member(name, &bytes))
            continue;
        if (ends_with(name, ".braap"))
            put("audio_engine_sound", name, std::string(1, '\0') + bytes);
        else if (ends_with(name, ".table"))
            put("audio_engine_sound", name, std::string(1, '\1') + bytes);
        else if (ends_with(name, ".series"))
            series_seeds(name, bytes);
        else if (ends_with(name, ".shp"))
            put("bike_shape", name, bytes);
        else if (ends_with(name, ".qm") && bytes.size() <= 256 * 1024)
            put("render_qm", name, bytes);
        else if (ends_with(name, ".seq"))
            put("render_seq", name, bytes);
        else if (ends_with(name, ".png") && bytes.size() <= 32 * 1024 && pictures < 12) {
            put("picture_png", name, bytes);
            pictures++;
        } else if (ends_with(name, ".ppm") && bytes.size() <= 64 * 1024 && maps < 4) {
            put("picture_pnm", name, bytes);
            maps++;
        }
    }
}

void written_pictures()
{
    unsigned char pixels[16 * 16 * 4];
    for (size_t i = 0; i < sizeof pixels; i++)
        pixels[i] = (unsigned char)(i * 37 + (i >> 4) * 11);
    picture_bytes b;
    if (encode_predictive(pixels, 16, 8, 3, &b))
        put("picture_pnm", "predictive_rgb.q6", bytes_of(b));
    if (encode_predictive(pixels, 8, 16, 4, &b))
        put("picture_pnm", "predictive_rgba.q7", bytes_of(b));
    if (encode_pgm(pixels, 8, 8, false, &b))
        put("picture_pnm", "grey.pgm", bytes_of(b));
    if (encode_pgm(pixels, 4, 4, true, &b))
        put("picture_pnm", "grey_text.pgm", bytes_of(b));
    if (encode_ppm(pixels, 4, 3, true, &b))
        put("picture_pnm", "rgb_text.ppm", bytes_of(b));
    if (encode_png(pixels, 8, 8, 4, false, "note", &b))
        put("picture_png", "rgba_text.png", bytes_of(b));
    if (encode_png(pixels, 8, 8, 2, true, nullptr, &b))
        put("picture_png", "grey_alpha.png", bytes_of(b));
    uint16_t heights[9 * 9];
    for (int i = 0; i < 81; i++)
        heights[i] = (uint16_t)(i * 700);
    if (encode_png_grey16(heights, 9, 9, &b))
        put("picture_png", "heights.png", bytes_of(b));
}

void archives_and_gzip()
{
    std::string braap, shape;
    read_member("default250.braap", &braap);
    read_member("startgate.shp", &shape);
    std::string packed;
    if (!gzip_bytes(shape.data(), shape.size(), &packed))
        exit(1);
    // The gzip reader: plain, and read in other block sizes.
    put("files_gzip", "shape_gz", std::string(1, '\0') + packed);
    put("files_gzip", "shape_gz_blocks", std::string(1, '\x1e') + packed);
    std::string text_gz;
    if (!gzip_bytes(braap.data(), braap.size(), &text_gz, 1))
        exit(1);
    put("files_gzip", "braap_gz", std::string(1, '\x04') + text_gz);

    std::vector<archive_member> members = {
        {"default250.braap", braap},
        {"shapes/startgate.shp.gz", packed},
        {"empty", ""},
    };
    std::string archive;
    if (!archive_bytes(members, &archive))
        exit(1);
    put("files_archive", "small.saf", archive);
    members.resize(1);
    if (!archive_bytes(members, &archive))
        exit(1);
    put("files_archive", "one_member.saf", archive);
}

// Three snapshots of a bike at rest and moving, then the control bytes.
void snapshots()
{
    physics_space space;
    heightfield hf;
    if (!heightfield_create(&hf, 6, 2.0f, nullptr))
        exit(1);
    const snapshot_terrain terrain = snapshot_terrain_of(&hf);
    bike* b = create_bike(&space, "crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    if (!b)
        exit(1);
    std::string three;
    for (int k = 0; k < 3; k++) {
        bike_snapshot s;
        encode_bike_snapshot(b, terrain, &s);
        three.append(reinterpret_cast<const char*>(s.bytes), sizeof s.bytes);
        for (int i = 0; i < bike_body_count; i++) {
            dBodySetLinearVel(b->bodies[i], 3.0 * (k + 1), 0.5, -1.0 * k);
            const dReal* p = dBodyGetPosition(b->bodies[i]);
            dBodySetPosition(b->bodies[i], p[0] + 0.7 * k, p[1] + 0.1, p[2] + 0.2 * k);
        }
    }
    put("bike_snapshot", "format5_blend", three + std::string("\x00\x03\x20\xff", 4));
    put("bike_snapshot", "format4_ghost", three + std::string("\x01\x00\x60\x10", 4));
    destroy_bike(b);
    physics_destroy(&space);
    heightfield_free(&hf);
}

void erosion_messages()
{
    erode_point points[12];
    for (int i = 0; i < 12; i++) {
        points[i].x = 40.0f + 0.6f * i;
        points[i].z = 90.0f - 0.3f * i;
        points[i].dir_x = 0.8f;
        points[i].dir_z = -0.4f + 0.05f * i;
        points[i].weight = 1 + i % 15;
    }
    uint8_t message[1024];
    for (int count : {1, 12}) {
        const int n = erode_message_pack(points, count, -0.4f, -0.4f, 0.7f, 0.1f, 255.0f, message);
        if (n <= 0)
            exit(1);
        // The harness takes the terrain's extent from the first two bytes.
        put("erode_message", "points_" + std::to_string(count),
            std::string("\xfe\x00", 2) + std::string(reinterpret_cast<const char*>(message), (size_t)n));
    }
}

// Height files at the sizes the harness loads: raw samples, and the
// default tracks' header (its picture fallback) on a smaller grid.
void terrain_seeds()
{
    std::string raw = "6 2.0 -3.5 40 :";
    for (int i = 0; i < 129 * 129; i++) {
        const unsigned v = (unsigned)(i * 97) & 0xffff;
        raw += (char)(v & 0xff);
        raw += (char)(v >> 8);
    }
    put("track_terrain_hf", "raw_samples", raw);
    put("track_terrain_hf", "picture_fallback", "6 1.500000 9.000000 64.000000\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: kessrig_fuzz_seeds OUT_DIR\n");
        return 2;
    }
    g_out = argv[1];
    mkdir(g_out.c_str(), 0755);
    archive_members();
    written_pictures();
    archives_and_gzip();
    snapshots();
    erosion_messages();
    terrain_seeds();
    printf("kessrig_fuzz_seeds: %d seeds\n", g_written);
    return 0;
}
