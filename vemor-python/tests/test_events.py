"""Subscriptions and events: the disconnected hook, closing, time-outs, and events from the
simulated desktop."""

import os
import signal
import threading
import time

import pytest

import vemor

CLOSED = "Subscription is closed"


def test_disconnected_subscription_yields_nothing():
    sub = vemor._make_disconnected_subscription()
    assert repr(sub) == "Subscription(active)"
    assert list(sub) == []
    assert sub.try_recv() is None
    with pytest.raises(vemor.TimeoutError) as info:
        sub.recv()
    assert (info.value.condition, info.value.elapsed) == ("any accessibility event", 5.0)
    with pytest.raises(vemor.PlatformError) as info:
        sub.wait_for(lambda e: True)
    assert str(info.value) == "Subscription event source disconnected before predicate matched"


def test_a_closed_subscription_refuses_every_receive():
    sub = vemor._make_disconnected_subscription()
    sub.close()
    sub.close()
    assert (repr(sub), str(sub)) == ("Subscription(closed)",) * 2
    for receive in (sub.recv, sub.try_recv, lambda: sub.wait_for(lambda e: True),
                    lambda: next(sub)):
        with pytest.raises(vemor.PlatformError) as info:
            receive()
        assert str(info.value) == CLOSED

    with pytest.raises(KeyError):
        with vemor._make_disconnected_subscription() as inside:
            assert repr(inside) == "Subscription(active)"
            raise KeyError("not swallowed")
    assert repr(inside) == "Subscription(closed)"


@pytest.mark.parametrize("value, shown", [
    (-1, "-1"), (-0.5, "-0.5"), (float("nan"), "NaN"), (float("inf"), "inf"),
    (1e10, "10000000000"),
])
def test_receive_timeouts_are_checked(value, shown):
    sub = vemor._make_disconnected_subscription()
    message = f"timeout must be a non-negative number of seconds, got {shown}"
    for receive in (lambda: sub.recv(value), lambda: sub.wait_for(lambda e: True, value)):
        with pytest.raises(ValueError) as info:
            receive()
        assert str(info.value) == message
    with pytest.raises(TypeError, match="'timeout' must be float, not NoneType"):
        sub.recv(None)


def test_event_type_names():
    assert vemor.EventType.FOCUS_CHANGED == "focus_changed"
    assert type(vemor.EventType.ANNOUNCEMENT) is str
    names = [n for n in vars(vemor.EventType) if n.isupper()]
    assert len(names) == 14 and names[0] == "FOCUS_CHANGED" and names[-1] == "ANNOUNCEMENT"
    with pytest.raises(TypeError):
        vemor.EventType()


# ---- The simulated desktop ----------------------------------------------------------------------


@pytest.fixture
def textedit():
    return vemor.App.by_name("TextEdit", timeout=0)


@pytest.fixture
def bold(textedit):
    """The Bold check box, left as it was found."""
    box = textedit.locator('check_box[name="Bold"]')
    before = box.element().checked
    yield box
    if box.element().checked != before:
        box.toggle()


def test_event_stream_from_a_toggled_check_box(textedit, bold):
    with textedit.subscribe() as sub:
        with pytest.raises(vemor.TimeoutError) as info:
            sub.recv(timeout=0.05)
        assert str(info.value) == "Timeout after 50.0ms; waiting for: any accessibility event"
        assert info.value.elapsed == 0.05

        bold.toggle()
        first = sub.recv()
        assert (first.state_flag, first.state_value) == (None, None)
        with pytest.raises(TypeError, match="predicate must return bool, not int"):
            sub.wait_for(lambda e: 1)
        bold.toggle()
        event = sub.wait_for(lambda e: e.event_type == vemor.EventType.STATE_CHANGED)
        assert repr(event) == f"Event(event_type='state_changed', app_name='TextEdit', app_pid={textedit.pid})"
        assert (event.app_name, event.state_flag, event.state_value) == ("TextEdit", "checked", False)
        assert event.target.name == "Bold" and event.target is not event.target


def test_wait_for_counts_the_events_it_rejected(textedit, bold):
    sub = textedit.as_element().subscribe()
    bold.toggle()
    sub.recv()
    seen = []

    def reject(event):
        seen.append(event.event_type)
        return False

    with pytest.raises(vemor.TimeoutError) as info:
        sub.wait_for(reject, timeout=0.3)
    assert info.value.condition == "event matching predicate"
    assert info.value.last_observed == f"{len(seen)} event(s) received, none matched"
    with pytest.raises(vemor.TimeoutError) as info:
        sub.wait_for(lambda e: True, timeout=0)
    assert info.value.last_observed == "0 event(s) received, none matched"
    sub.close()


def test_try_recv_from_another_thread_lets_the_interpreter_run(textedit, bold):
    """A try_recv that must wait for a receive in progress does so without holding the
    interpreter: the main thread still runs and makes the event the receive is waiting for."""
    sub = textedit.subscribe()
    results = {}
    receiving, trying = threading.Event(), threading.Event()

    def receive():
        receiving.set()
        try:
            results["recv"] = sub.recv(timeout=30).event_type
        except Exception as e:  # noqa: BLE001 - reported below
            results["recv"] = e

    def try_receive():
        receiving.wait()
        threading.Event().wait(0.1)  # let the receive take the subscription first
        trying.set()
        results["try_recv"] = sub.try_recv()

    threads = [threading.Thread(target=receive), threading.Thread(target=try_receive)]
    for t in threads:
        t.start()
    trying.wait()
    threading.Event().wait(0.1)
    bold.toggle()
    for t in threads:
        t.join()
    # The toggle sends value_changed, then state_changed. The try_recv has its turn before them
    # (and finds nothing), or after the first arrived, when it may take either one.
    taken = results["try_recv"]
    if taken is None:
        assert results["recv"] == "value_changed"
    else:
        assert {taken.event_type, results["recv"]} == {"value_changed", "state_changed"}
    sub.close()


class Interrupted(Exception):
    pass


@pytest.mark.parametrize("iterators", [3, 6])
def test_the_turn_is_fair_beside_iterating_threads(textedit, iterators):
    """Calls from other threads go before the next slice of any iterator, and a receive holds the
    subscription for one slice at a time. However many threads iterate a quiet subscription, a
    recv returns within its time-out and about a slice, try_recv and repr wait about a slice
    beside a long recv, and a signal handler reaches a main thread that iterates too."""
    sub = textedit.subscribe()
    ended = []

    def iterate():
        try:
            for _ in sub:
                pass
        except vemor.PlatformError as e:
            ended.append(str(e))

    def timed(call):
        start = time.monotonic()
        call()
        return time.monotonic() - start

    def short_recv():
        with pytest.raises(vemor.TimeoutError):
            sub.recv(timeout=0.05)

    def long_recv():
        try:
            sub.recv(timeout=3)
        except vemor.TimeoutError:
            pass

    def signal_soon():
        threading.Event().wait(0.3)
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGUSR1)

    def interrupt(signum, frame):
        raise Interrupted()

    # Daemons, and the subscription closed on every way out: a failure must not leave them
    # iterating.
    threads = [threading.Thread(target=iterate, daemon=True) for _ in range(iterators)]
    for t in threads:
        t.start()
    try:
        threading.Event().wait(0.3)  # every iterator is in its slices
        waits = {"recv": max(timed(short_recv) for _ in range(10))}

        holder = threading.Thread(target=long_recv)
        holder.start()
        threading.Event().wait(0.3)
        waits["try_recv"] = timed(sub.try_recv)
        waits["repr"] = timed(lambda: repr(sub))
        holder.join()

        sent = []
        previous = signal.signal(signal.SIGUSR1, interrupt)
        signaller = threading.Thread(target=signal_soon)
        signaller.start()
        try:
            with pytest.raises(Interrupted):
                for _ in sub:
                    pass
            waits["signal"] = time.monotonic() - sent[0]
        finally:
            signal.signal(signal.SIGUSR1, previous)
            signaller.join()

        waits["close"] = timed(sub.close)
    finally:
        sub.close()
    for t in threads:
        t.join()
    assert ended == [CLOSED] * iterators
    assert max(waits.values()) < 1.0, waits  # a slice is 0.1 s


def test_a_signal_handler_interrupts_iteration_and_wait_for(textedit):
    """Receives that wait without end let a raising signal handler (Ctrl-C's, for one) through
    between their slices; the subscription stays open."""
    sub = textedit.subscribe()
    armed = threading.Event()

    def handler(signum, frame):
        if armed.is_set():
            raise Interrupted()

    previous = signal.signal(signal.SIGUSR1, handler)
    try:
        for wait in (lambda: [None for _ in sub],
                     lambda: sub.wait_for(lambda e: False, timeout=600)):
            done = threading.Event()

            def keep_signalling():
                for _ in range(200):  # gives up after about ten seconds
                    if done.wait(0.05):
                        return
                    os.kill(os.getpid(), signal.SIGUSR1)
                sub.close()  # a receive deaf to signals fails instead of hanging the run

            helper = threading.Thread(target=keep_signalling)
            helper.start()
            try:
                with pytest.raises(Interrupted):
                    armed.set()
                    wait()
            finally:
                armed.clear()
                done.set()
                helper.join()
            assert repr(sub) == "Subscription(active)"
    finally:
        signal.signal(signal.SIGUSR1, previous)
        sub.close()
