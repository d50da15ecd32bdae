// The software mixer. Voices sit in per-level lists per channel, the
// loudest levels are mixed first so that the voice budget drops the
// quietest, and every sample costs one table lookup and one addition.
#include "audio/mixer.h"

#include <climits>
#include <cstring>
#include <new>

#include "platform/log.h"

namespace {

constexpr int LEFT = 0, RIGHT = 1;

// Row L-1 holds level L's contribution of every sample byte.
struct level_rows {
    int8_t row[MIX_LEVELS - 1][256];
    level_rows()
    {
        for (int level = 1; level < MIX_LEVELS; level++) {
            int8_t* r = row[level - 1];
            r[128] = 0;
            for (int k = 1; k < 128; k++) {
                r[128 + k] = (int8_t)((k - 1) * level / 32);
                r[128 - k] = (int8_t)-((k - 1) * level / 32);
            }
            r[0] = (int8_t)-(127 * level / 32);
        }
    }
};

const level_rows& level_table()
{
    static const level_rows table;
    return table;
}

// --- Lists ---------------------------------------------------------------------

void list_node(mixer* m, int channel, mix_node* n, int level)
{
    n->level = level;
    n->prev = nullptr;
    n->next = m->lists[channel][level];
    if (n->next)
        n->next->prev = n;
    m->lists[channel][level] = n;
}

void unlist_node(mixer* m, int channel, mix_node* n)
{
    if (n->prev)
        n->prev->next = n->next;
    else if (m->lists[channel][n->level] == n)
        m->lists[channel][n->level] = n->next;
    if (n->next)
        n->next->prev = n->prev;
    n->prev = n->next = nullptr;
}

void list_voice(mixer* m, audio_voice* v)
{
    list_node(m, LEFT, &v->node[LEFT], v->left_level);
    if (m->stereo)
        list_node(m, RIGHT, &v->node[RIGHT], v->right_level);
}

void unlist_voice(mixer* m, audio_voice* v)
{
    unlist_node(m, LEFT, &v->node[LEFT]);
    if (m->stereo)
        unlist_node(m, RIGHT, &v->node[RIGHT]);
}

// Levels from volume and pan; a playing voice whose levels change moves
// to the new lists (as the newest there).
void update_levels(audio_voice* v)
{
    const uint32_t volume = (uint32_t)v->volume;
    const int left = (int)(((uint32_t)(32767 - v->pan) * volume) >> 26);
    const int right = (int)((volume * (uint32_t)(v->pan + 32768)) >> 26);
    if (left == v->left_level && right == v->right_level)
        return;
    const bool listed = v->flags & voice_playing;
    if (listed)
        unlist_voice(v->owner, v);
    v->left_level = left;
    v->right_level = right;
    if (listed)
        list_voice(v->owner, v);
}

sample_data* new_sample_data(int length)
{
    sample_data* d = new (std::nothrow) sample_data;
    if (!d)
        return nullptr;
    d->bytes = new (std::nothrow) uint8_t[(size_t)length];
    if (!d->bytes) {
        delete d;
        return nullptr;
    }
    d->refs = 1;
    d->length = length;
    return d;
}

void release_sample_data(sample_data* d)
{
    if (d && --d->refs == 0) {
        delete[] d->bytes;
        delete d;
    }
}

// --- Mixing -------------------------------------------------------------------

// The read position as 32.32 fixed point, and the step per output sample:
// the whole bytes plus (rate mod out_rate) * floor(2^31 / out_rate) * 2 as
// the fraction, so that a carry out of the fraction adds one byte.
uint64_t node_position(const mix_node& n)
{
    return ((uint64_t)n.position << 32) | n.fraction;
}

void set_node_position(mix_node& n, uint64_t p)
{
    n.position = (uint32_t)(p >> 32);
    n.fraction = (uint32_t)p;
}

uint64_t rate_step(const audio_voice& v)
{
    const uint32_t rate = (uint32_t)v.rate, out = (uint32_t)v.out_rate;
    const uint32_t fraction = (rate % out) * (uint32_t)((1u << 31) / out) * 2u;
    return ((uint64_t)(rate / out) << 32) + fraction;
}

// Brings a position at or past the end back into the data: false when the
// voice does not loop and has finished.
bool wrap_position(audio_voice* v, uint64_t* p)
{
    const uint64_t length = (uint64_t)v->data->length;
    if ((*p >> 32) < length)
        return true;
    if (!(v->flags & voice_loop)) {
        v->flags |= voice_finished;
        return false;
    }
    *p = (((*p >> 32) % length) << 32) | (uint32_t)*p;
    return true;
}

// Mixes samples [start, count) of a node at `level`, starting at the level
// heard last time until the sample's sign first changes, so that a volume
// change never steps in the middle of a wave. Ends early when the voice
// finishes.
void mix_node_audibly(mixer* m, int channel, mix_node& n, int level, bool restarting)
{
    audio_voice* v = n.voice;
    const uint8_t* bytes = v->data->bytes;
    const level_rows& table = level_table();
    int32_t* acc = m->accumulators[channel];
    const uint64_t step = rate_step(*v);
    uint64_t p = node_position(n);

    int heard = level;
    uint8_t sign = 0;
    if ((n.previous_level != level || restarting) && n.previous_level != 0) {
        heard = n.previous_level;
        sign = bytes[p >> 32] & 0x80;
    }
    const int8_t* row = table.row[heard - 1];
    for (int i = 0; i < m->fragment_length; i++) {
        const uint8_t u = bytes[p >> 32];
        if (heard != level && (u & 0x80) != sign) {
            heard = level;
            row = table.row[level - 1];
        }
        acc[i] += row[u];
        p += step;
        if (!wrap_position(v, &p))
            break;
    }
    set_node_position(n, p);
    n.previous_level = level;
}

// A node nobody hears still moves on as if it were mixed, so it comes back
// in step when it is heard again.
void advance_node_silently(mixer* m, mix_node& n)
{
    audio_voice* v = n.voice;
    uint64_t p = node_position(n);
    // Whole bytes and fraction advance separately so nothing overflows for
    // any rate; the sum is exactly fragment_length single steps.
    const uint64_t step = rate_step(*v);
    const uint64_t count = (uint64_t)m->fragment_length;
    const uint64_t whole = (step >> 32) * count;
    const uint64_t fraction = (step & 0xffffffffu) * count + (p & 0xffffffffu);
    const uint64_t bytes = (p >> 32) + whole + (fraction >> 32);
    const uint64_t length = (uint64_t)v->data->length;
    if (bytes >= length && !(v->flags & voice_loop)) {
        v->flags |= voice_finished;
        set_node_position(n, (uint64_t)v->data->length << 32);
    } else {
        set_node_position(n, ((bytes % length) << 32) | (uint32_t)fraction);
    }
    n.previous_level = 0;
}

void mix_node_of_level(mixer* m, int channel, mix_node& n, int level, int* budget)
{
    audio_voice* v = n.voice;
    if (v->flags & voice_stopped)
        return;
    const bool restarting = v->flags & voice_restart;
    if (restarting)
        set_node_position(n, 0);
    if (level >= 1 && *budget > 0) {
        --*budget;
        mix_node_audibly(m, channel, n, level, restarting);
    } else {
        advance_node_silently(m, n);
    }
}

// Clears the restart marks, keeps the right channel on the left's sample
// and drops the voices that finished.
void settle_voices(mixer* m)
{
    for (int level = 0; level < MIX_LEVELS; level++) {
        mix_node* n = m->lists[LEFT][level];
        while (n) {
            mix_node* next = n->next;
            audio_voice* v = n->voice;
            v->flags &= ~voice_restart;
            v->node[RIGHT].position = n->position;
            v->node[RIGHT].fraction = n->fraction;
            if (v->flags & voice_finished) {
                unlist_voice(m, v);
                v->flags &= ~(voice_finished | voice_playing | voice_stopped);
            }
            n = next;
        }
    }
}

template <typename T>
T clamp_value(T x, T low, T high)
{
    return x < low ? low : (x > high ? high : x);
}

void convert_output(mixer* m)
{
    const int channels = m->stereo ? 2 : 1;
    for (int c = 0; c < channels; c++) {
        const int32_t* acc = m->accumulators[c];
        if (m->format == sample_u8) {
            uint8_t* out = m->output + c;
            for (int i = 0; i < m->fragment_length; i++)
                out[i * channels] = (uint8_t)clamp_value(acc[i] + 128, 0, 255);
        } else {
            int16_t* out = (int16_t*)(void*)m->output + c;
            for (int i = 0; i < m->fragment_length; i++)
                out[i * channels] = (int16_t)(clamp_value(acc[i], -127, 127) * 256);
        }
    }
}

audio_voice* new_voice(mixer* m, sample_data* data)
{
    audio_voice* v = new (std::nothrow) audio_voice;
    if (!v)
        return nullptr;
    v->owner = m;
    v->data = data;
    v->out_rate = m->rate;
    v->rate = m->rate;
    if (m->stereo)
        v->flags |= voice_stereo;
    else
        v->pan = -32768;
    v->node[LEFT].voice = v;
    v->node[RIGHT].voice = v;
    update_levels(v);
    m->voices++;
    return v;
}

}  // namespace

int mix_level_value(int level, uint8_t u)
{
    if (level < 1 || level >= MIX_LEVELS)
        return 0;
    return level_table().row[level - 1][u];
}

bool mixer_init(mixer* m, int rate, bool stereo, audio_sample_format format, int fragment_length, int budget)
{
    level_table();
    m->rate = rate < 1 ? 1 : rate;
    m->stereo = stereo;
    m->format = format;
    m->fragment_length = fragment_length < 1 ? 1 : fragment_length;
    m->budget = budget < 0 ? 0 : budget;
    m->voices = 0;
    for (auto& channel : m->lists)
        for (mix_node*& head : channel)
            head = nullptr;
    const int channels = stereo ? 2 : 1;
    m->output_bytes = m->fragment_length * channels * (format == sample_s16 ? 2 : 1);
    m->output = new (std::nothrow) uint8_t[(size_t)m->output_bytes]();
    m->accumulators[LEFT] = new (std::nothrow) int32_t[(size_t)m->fragment_length]();
    m->accumulators[RIGHT] = stereo ? new (std::nothrow) int32_t[(size_t)m->fragment_length]() : nullptr;
    if (!m->output || !m->accumulators[LEFT] || (stereo && !m->accumulators[RIGHT])) {
        mixer_free(m);
        return false;
    }
    return true;
}

void mixer_free(mixer* m)
{
    std::lock_guard<std::mutex> guard(m->lock);
    if (m->voices)
        log_printf("Audio closed with %d voices left\n", m->voices);
    for (int c = 0; c < 2; c++) {
        delete[] m->accumulators[c];
        m->accumulators[c] = nullptr;
        for (mix_node*& head : m->lists[c])
            head = nullptr;
    }
    delete[] m->output;
    m->output = nullptr;
    m->output_bytes = 0;
}

const uint8_t* mix_fragment(mixer* m)
{
    std::lock_guard<std::mutex> guard(m->lock);
    const int channels = m->stereo ? 2 : 1;
    for (int c = 0; c < channels; c++)
        memset(m->accumulators[c], 0, sizeof(int32_t) * (size_t)m->fragment_length);
    // Loudest first, left and right side by side, so that the budget runs
    // out among the quietest nodes.
    int budget = m->budget;
    for (int level = MIX_LEVELS - 1; level >= 0; level--) {
        mix_node* left = m->lists[LEFT][level];
        mix_node* right = m->stereo ? m->lists[RIGHT][level] : nullptr;
        while (left || right) {
            if (left) {
                mix_node_of_level(m, LEFT, *left, level, &budget);
                left = left->next;
            }
            if (right) {
                mix_node_of_level(m, RIGHT, *right, level, &budget);
                right = right->next;
            }
        }
    }
    settle_voices(m);
    convert_output(m);
    return m->output;
}

audio_voice* mixer_voice_create(mixer* m, int length, const uint8_t* bytes, int source_rate)
{
    if (!m || length < 1)
        return nullptr;
    int new_length = length;
    if (source_rate > 0) {
        const long long scaled = (long long)length * m->rate / source_rate;
        if (scaled > INT_MAX / 2)
            return nullptr;
        new_length = scaled < 1 ? 1 : (int)scaled;
    }
    sample_data* data = new_sample_data(new_length);
    if (!data)
        return nullptr;
    if (!bytes)
        memset(data->bytes, 128, (size_t)new_length);
    else if (new_length == length)
        memcpy(data->bytes, bytes, (size_t)length);
    else
        for (int k = 0; k < new_length; k++)
            data->bytes[k] = bytes[(long long)k * length / new_length];
    std::lock_guard<std::mutex> guard(m->lock);
    audio_voice* v = new_voice(m, data);
    if (!v)
        release_sample_data(data);
    return v;
}

audio_voice* voice_copy(audio_voice* v)
{
    if (!v)
        return nullptr;
    std::lock_guard<std::mutex> guard(v->owner->lock);
    audio_voice* copy = new_voice(v->owner, v->data);
    if (!copy)
        return nullptr;
    v->data->refs++;
    copy->flags |= v->flags & voice_loop;
    copy->rate = v->rate;
    copy->volume = v->volume;
    copy->pan = v->pan;
    update_levels(copy);
    return copy;
}

void voice_destroy(audio_voice* v)
{
    if (!v)
        return;
    mixer* m = v->owner;
    {
        std::lock_guard<std::mutex> guard(m->lock);
        if (v->flags & voice_playing)
            unlist_voice(m, v);
        release_sample_data(v->data);
        m->voices--;
    }
    delete v;
}

void voice_start(audio_voice* v)
{
    if (!v)
        return;
    std::lock_guard<std::mutex> guard(v->owner->lock);
    v->flags |= voice_restart;
    v->flags &= ~(voice_finished | voice_stopped);
    if (!(v->flags & voice_playing)) {
        v->flags |= voice_playing;
        v->node[LEFT].previous_level = 0;
        v->node[RIGHT].previous_level = 0;
        list_voice(v->owner, v);
    }
}

void voice_stop(audio_voice* v)
{
    if (!v)
        return;
    std::lock_guard<std::mutex> guard(v->owner->lock);
    if (v->flags & voice_playing)
        v->flags |= voice_finished | voice_stopped;
}

void voice_set_rate(audio_voice* v, int rate)
{
    if (!v)
        return;
    std::lock_guard<std::mutex> guard(v->owner->lock);
    v->rate = rate < 0 ? 0 : rate;
}

void voice_set_volume(audio_voice* v, int volume)
{
    if (!v)
        return;
    std::lock_guard<std::mutex> guard(v->owner->lock);
    v->volume = clamp_value(volume, 0, 32767);
    update_levels(v);
}

void voice_set_pan(audio_voice* v, int pan)
{
    if (!v)
        return;
    std::lock_guard<std::mutex> guard(v->owner->lock);
    v->pan = (v->flags & voice_stereo) ? clamp_value(pan, -32768, 32767) : -32768;
    update_levels(v);
}

void voice_set_loop(audio_voice* v, bool loop)
{
    if (!v)
        return;
    std::lock_guard<std::mutex> guard(v->owner->lock);
    if (loop)
        v->flags |= voice_loop;
    else
        v->flags &= ~voice_loop;
}

int voice_position(audio_voice* v)
{
    if (!v)
        return 0;
    std::lock_guard<std::mutex> guard(v->owner->lock);
    if ((v->flags & voice_playing) && !(v->flags & voice_restart))
        return (int)v->node[LEFT].position;
    return 0;
}

void voice_write(audio_voice* v, int count, const uint8_t* bytes, int offset)
{
    if (!v || !bytes || count < 1)
        return;
    std::lock_guard<std::mutex> guard(v->owner->lock);
    const int length = v->data->length;
    long long start = offset;
    if (count > length) {
        bytes += count - length;
        start += count - length;
        count = length;
    }
    start %= length;
    if (start < 0)
        start += length;
    const int first = (int)(length - start < count ? length - start : count);
    memcpy(v->data->bytes + start, bytes, (size_t)first);
    memcpy(v->data->bytes, bytes + first, (size_t)(count - first));
}
