#pragma once
// The end of the process through exit(): steps that must be taken however it comes (the message
// loop's end, or a library that calls exit() itself, as Qt does when the display goes away), and an
// end that leaves out the teardown of libraries whose own teardown at exit is unsafe.
namespace fw {

// Adds a step taken once when the process ends through exit(), the last added first. A step must
// not throw. Whatever a step uses must exist before the step is added, so that it is still there.
void AtExit(void (*step)());

// From now on exit() takes the steps added through AtExit, flushes the C streams and ends the
// process with its status at once: the exit handlers and the destructors of static objects that
// were registered before this call are left out, and the system takes back what they held. For a
// library whose teardown at exit is unsafe, called once that library has made its global state,
// and again whenever it may have made more (each call puts the end ahead of everything registered
// until then, at the cost of one entry in exit()'s list). Leaks are still looked for when the
// program is built with the leak checker.
void EndAtExitBeforeTeardown();

}  // namespace fw
