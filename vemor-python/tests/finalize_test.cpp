// An embedding host that finalises the interpreter while daemon threads share one subscription,
// and goes on running afterwards: every thread the interpreter ended must be gone, none left
// waiting for its turn at the subscription.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "py.hpp"

extern "C" PyObject* PyInit__native();

// What the finalised interpreter and the threads it ended leave behind is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libpython3\n"; }

namespace vemor::python {
namespace {

// Three threads iterate and three call try_recv without pause, so that at any moment some of
// them wait for the turn while another holds it.
constexpr const char* kReceivers = R"(
import threading
import _native

sub = _native.App.by_name("TextEdit").subscribe()
native_ids = []
started = threading.Barrier(7)


def iterate():
    native_ids.append(threading.get_native_id())
    started.wait()
    for _ in sub:
        pass


def try_often():
    native_ids.append(threading.get_native_id())
    started.wait()
    while True:
        sub.try_recv()


for target in [iterate] * 3 + [try_often] * 3:
    threading.Thread(target=target, daemon=True).start()
started.wait()
threading.Event().wait(0.3)
)";

bool running(long thread_id) {
    return std::filesystem::exists("/proc/self/task/" + std::to_string(thread_id));
}

TEST(InterpreterExit, NoThreadIsLeftWaitingForTheSubscription) {
    PyImport_AppendInittab("_native", &PyInit__native);
    Py_InitializeEx(0);
    std::vector<long> threads;
    {
        py::Ref builtins = py::Ref::steal(PyImport_ImportModule("builtins"));
        ASSERT_TRUE(builtins);
        py::Ref exec = py::Ref::steal(PyObject_GetAttrString(builtins.get(), "exec"));
        py::Ref globals = py::Ref::steal(PyDict_New());
        py::Ref code = py::str(kReceivers);
        ASSERT_TRUE(exec && globals && code);
        py::Ref done = py::Ref::steal(
            PyObject_CallFunctionObjArgs(exec.get(), code.get(), globals.get(), nullptr));
        if (!done) PyErr_Print();
        ASSERT_TRUE(done);
        PyObject* ids = PyDict_GetItemString(globals.get(), "native_ids");  // borrowed
        ASSERT_NE(ids, nullptr);
        for (Py_ssize_t i = 0; i < PyList_Size(ids); ++i)
            threads.push_back(PyLong_AsLong(PyList_GetItem(ids, i)));
    }
    ASSERT_EQ(threads.size(), 6u);
    ASSERT_EQ(Py_FinalizeEx(), 0);

    // Each thread is ended the next time it takes the interpreter lock back: after one slice of
    // waiting at most, unless it is left waiting for a turn that never comes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline &&
           std::ranges::any_of(threads, running))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::erase_if(threads, [](long id) { return !running(id); });
    EXPECT_TRUE(threads.empty()) << threads.size() << " thread(s) still waiting";
}

}  // namespace
}  // namespace vemor::python
