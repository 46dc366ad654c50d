#pragma once

// The stages of a job, in the order a job goes through them. The session keeps the running job's
// stage and every change of it goes through one function of the session's: a stage never goes
// back (a stage may be passed over: a format-0 job has no conversion, a failed one ends early),
// and every job enters jgEnded exactly once, with its one outcome. A session without a running
// job stands at jgEnded; Start's new job enters jgLookup.
//
// Each stage ends by itself however the other side behaves, and at once on an abort:
//   lookup       the lookup service's stall and connect limits; the built-in lookup's budget in
//                all (TJobLimits::lookupTime), the page's and the parse's within it
//   description  ends when the front end has shown it; a closed session lets the worker go
//   preview      previewTime in all (30 s), and the 8 MiB bound; a preview that fails is no failure
//   transfer     the stall and connect limits on every try, and the tries of a broken transfer
//                (TJobLimits::resume: five in a row without a new byte, fifty in all)
//   conversion   the converter is ended when its progress reports stop for converterSilence
//   delivery     a copy into the save folder, ended by the stop (Abort, Close) until the file has
//                taken its name
//   ended        the outcome is told; nothing of the job runs any more but its threads' returns

#include <cstdint>

namespace tarnwick {

enum TJobStage : std::int32_t {
    jgLookup,       // the video's record is looked for
    jgDescription,  // the front end shows the record's description
    jgPreview,      // the preview picture is fetched
    jgTransfer,     // the media is fetched into the job's work file
    jgConversion,   // the converter runs on the work file
    jgDelivery,     // the result goes into the save folder
    jgEnded,        // the job's outcome is told
};

}  // namespace tarnwick
