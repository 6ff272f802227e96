#pragma once
// How long a test waits for an event: a reply, a status text, a line from a
// process, a process's end. A wait ends as soon as its event comes, so the
// limit costs nothing when a test passes and only bounds a failure. On a quiet
// machine no wait takes more than about 2 s; with every core busy with other
// work a 150 ms tick and a process start stretch many times over, and the
// suite must still pass.
inline constexpr int event_wait_ms = 30000;
