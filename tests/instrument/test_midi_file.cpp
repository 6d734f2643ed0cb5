// Standard MIDI files, written here with libsmf's own writer: every note
// lands on the sample nearest its time through tempo changes, and a file
// that is not a whole MIDI file is refused in one line that names it.
#ifdef VXHOST_HAVE_MIDI_FILES

#include <gtest/gtest.h>
#include <smf.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "MidiFile.h"
#include "instrument_support.h"

namespace {

using vxhost::ReadMidiFile;
using vxhost::TimedMidiMessage;

struct SmfDeleter {
    void operator()(smf_t* smf) const { smf_delete(smf); }
};

void AddBytes(smf_track_t* track, int pulses, std::vector<unsigned char> bytes) {
    smf_event_t* event = smf_event_new_from_pointer(bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_NE(event, nullptr);
    smf_track_add_event_pulses(track, event, pulses);
}

// A tempo in microseconds per quarter note.
std::vector<unsigned char> Tempo(int micros) {
    return {0xFF,
            0x51,
            0x03,
            static_cast<unsigned char>(micros >> 16),
            static_cast<unsigned char>(micros >> 8),
            static_cast<unsigned char>(micros)};
}

// 480 pulses a quarter note; 120 beats a minute, then 60 from the second
// second on. A second track plays a note on another channel, with a
// system-exclusive message the reader leaves out.
std::string WriteSong(const std::string& path) {
    std::unique_ptr<smf_t, SmfDeleter> smf(smf_new());
    EXPECT_EQ(smf_set_ppqn(smf.get(), 480), 0);
    smf_track_t* tempo = smf_track_new();
    smf_add_track(smf.get(), tempo);
    AddBytes(tempo, 0, Tempo(500000));
    AddBytes(tempo, 1920, Tempo(1000000));
    smf_track_t* notes = smf_track_new();
    smf_add_track(smf.get(), notes);
    AddBytes(notes, 1, {0x90, 60, 100});        // 1/960 s
    AddBytes(notes, 960, {0x80, 60, 0});        // 1 s
    AddBytes(notes, 2160, {0x90, 62, 90});      // 2 s and half a beat at 60: 2.5 s
    AddBytes(notes, 2400, {0xE0, 0x00, 0x50});  // 3 s
    AddBytes(notes, 2880, {0x80, 62, 0});       // 4 s
    smf_track_t* other = smf_track_new();
    smf_add_track(smf.get(), other);
    AddBytes(other, 480, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    AddBytes(other, 480, {0x95, 48, 80});
    AddBytes(other, 1440, {0x85, 48, 0});
    EXPECT_EQ(smf_save(smf.get(), path.c_str()), 0);
    return path;
}

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Files go to the test framework's scratch folder, never the source tree.
std::string Scratch(const std::string& name) { return ::testing::TempDir() + name; }

TEST(MidiFile, EveryChannelMessageLandsOnItsSampleThroughTempoChanges) {
    const std::vector<TimedMidiMessage> song = ReadMidiFile(WriteSong(Scratch("instrument_song.mid")), 44100.0);
    const struct {
        uint64_t sample;
        uint8_t status;
        uint8_t data1;
    } expected[] = {
        {46, 0x90, 60},  // 45.9375 samples, rounded to the nearest
        {22050, 0x95, 48},    {44100, 0x80, 60},
        {66150, 0x85, 48},    {110250, 0x90, 62},  // after the tempo halves, half a beat is half a second
        {132300, 0xE0, 0x00}, {176400, 0x80, 62},
    };
    ASSERT_EQ(song.size(), std::size(expected));
    for (size_t i = 0; i < song.size(); ++i) {
        EXPECT_EQ(song[i].sample, expected[i].sample) << "message " << i;
        EXPECT_EQ(song[i].message.bytes[0], expected[i].status) << "message " << i;
        EXPECT_EQ(song[i].message.bytes[1], expected[i].data1) << "message " << i;
        EXPECT_EQ(song[i].message.size, 3) << "message " << i;
    }
}

TEST(MidiFile, ASongFromAFilePlaysOnTheInstrument) {
    if (!RealPluginsBuilt()) GTEST_SKIP() << "needs the ramplet and sumtone plug-ins";
    auto instrument = MakeInstrument(VoiceTemplate(2));
    const auto song = ReadMidiFile(WriteSong(Scratch("instrument_play.mid")), instrument->SampleRate());
    const Take take = Play(*instrument, song, 48000 * 5, 256);
    EXPECT_EQ(instrument->NotesPlayed(), 3u);
    EXPECT_EQ(take.gate[0][49], 0.0f);
    EXPECT_EQ(take.gate[0][50], 1.0f);  // 1/960 s at 48 kHz
    EXPECT_EQ(take.gate[1][24000], 1.0f);
    EXPECT_EQ(take.pitch[1][24000], PitchOf(48));
    EXPECT_EQ(take.gate[0][120000], 1.0f);  // note 62 took the voice released longest ago
    EXPECT_EQ(take.pitch[0][120000], PitchOf(62));
}

TEST(MidiFile, WhatIsNotAWholeMidiFileIsRefusedInOneLineNamingIt) {
    const std::string whole = Bytes(WriteSong(Scratch("instrument_whole.mid")));
    ASSERT_GT(whole.size(), 40u);
    Write(Scratch("instrument_text.mid"), "this is not a MIDI file, only some text\n");
    Write(Scratch("instrument_cut.mid"), whole.substr(0, whole.size() - 7));
    Write(Scratch("instrument_header.mid"), whole.substr(0, 20));
    Write(Scratch("instrument_empty.mid"), "");
    const struct {
        std::string path;
        std::string says;
    } cases[] = {
        {Scratch("instrument_text.mid"), "is not a standard MIDI file"},
        {Scratch("instrument_cut.mid"), "is a truncated MIDI file"},
        {Scratch("instrument_header.mid"), "is a truncated MIDI file"},
        {Scratch("instrument_empty.mid"), "is not a standard MIDI file"},
        {Scratch("instrument_missing.mid"), "cannot read MIDI file " + Scratch("instrument_missing.mid")},
    };
    for (const auto& c : cases) {
        try {
            ReadMidiFile(c.path, 44100.0);
            ADD_FAILURE() << c.path << " was read";
        } catch (const vxhost::HostError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(c.path), std::string::npos) << message;
            EXPECT_NE(message.find(c.says), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
    }
    // A header whose track chunk claims more than the file holds, and a
    // track whose bytes are garbage, are both damaged files.
    std::string garbage = whole;
    for (size_t i = 30; i < garbage.size(); ++i) garbage[i] = static_cast<char>(0xFF);
    Write(Scratch("instrument_garbage.mid"), garbage);
    EXPECT_THROW(ReadMidiFile(Scratch("instrument_garbage.mid"), 44100.0), vxhost::HostError);
}

}  // namespace

#endif  // VXHOST_HAVE_MIDI_FILES
