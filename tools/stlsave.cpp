// stlsave [--repair] OUT.stl|OUT.3mf FILE...: `stlview --save` without Windows,
// through the same load job and save path, for the independent readers'
// check (admesh, PrusaSlicer) and the save bench on Linux. Prints the lines
// the console would show; exits 0 when saved, 1 when not, 2 for a bad command.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/converting_sink.h"
#include "core/memory.h"
#include "load/load_job.h"
#include "load/model_save.h"

namespace {

intptr_t printLine(void*, StatusCode code, uintptr_t argument, const Utf16*) {
    if (code != kLine) return 1;
    for (const Utf16* at = reinterpret_cast<const Utf16*>(argument); *at; ++at) putchar(*at < 0x80 ? int(*at) : '?');
    putchar('\n');
    return 1;
}

std::vector<Utf16> widened(const char* text) {
    std::vector<Utf16> wide(strlen(text) + 1);
#ifdef _WIN32
    for (size_t i = 0; text[i]; ++i) wide[i] = static_cast<unsigned char>(text[i]);
#else
    wide[widenFileName(text, static_cast<uint32_t>(strlen(text)), wide.data())] = 0;
#endif
    return wide;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    bool repair = argc > 1 && strcmp(argv[1], "--repair") == 0;
    first += repair;
    if (argc - first < 2 || argc - first > 5) {
        fprintf(stderr, "usage: stlsave [--repair] OUT.stl|OUT.3mf FILE... (at most four files)\n");
        return 2;
    }
    std::vector<LoadJob*> jobs;
    std::vector<ModelPart> parts;
    bool loaded = true;
    for (int i = first + 1; i < argc; ++i) {
        LoadJob* job = static_cast<LoadJob*>(allocBytes(sizeof(LoadJob)));
        std::vector<Utf16> path = widened(argv[i]);
        if (!job || !makeFileNameList(path.data(), &job->fileList)) return 1;
        initLoadJob(job, &job->fileList, nullptr, nullptr);
        runLoadJob(job);
        if (job->messages.used) printLine(nullptr, kLine, reinterpret_cast<uintptr_t>(job->messages.data), nullptr);
        loaded = loaded && job->parts.used >= sizeof(ModelPart);
        if (job->parts.used >= sizeof(ModelPart)) parts.push_back(*static_cast<ModelPart*>(job->parts.data));
        jobs.push_back(job);
    }
    bool saved = false;
    // A file that did not load saves nothing, but what did load is still released.
    if (loaded) {
        std::vector<Utf16> out = widened(argv[first]);
        uint8_t on = repair ? 1 : 0;
        SaveRequest request{parts.data(), static_cast<uint32_t>(parts.size()), nullptr, 0, saveFormatFor(out.data()),
                            RepairChoice{on, on, on, on}, out.data()};
        ConvertingSink sink;
        initConvertingSink(&sink, MessageSink{nullptr, printLine});
        SaveOutcome outcome;
        saved = saveModel(&request, &outcome, nullptr, &sink.self);
    }
    for (ModelPart& part : parts) releaseModelPart(&part);
    for (LoadJob* job : jobs) {
        job->parts.used = 0;  // released above
        releaseLoadJob(job);
    }
    return saved ? 0 : 1;
}
