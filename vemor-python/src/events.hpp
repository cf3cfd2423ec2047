// The event classes: `vemor.Subscription` (the receiving end of one application's or element's
// events, with blocking, non-blocking and predicate receives, iteration and an explicit close),
// `vemor.Event` (one received event) and `vemor.EventType` (the event kinds' names).
#pragma once

#include "py.hpp"
#include "vemor/event.hpp"
#include "vemor/provider.hpp"

namespace vemor::python {

PyType_Spec& event_spec();
PyType_Spec& event_type_spec();
PyType_Spec& subscription_spec();

// Sets the kind names on the class `EventType` once it exists.
bool fill_event_type(PyObject* type);

// A new open `vemor.Subscription` owning `subscription`; events it yields act through
// `provider`.
py::Ref make_py_subscription(Subscription subscription, ProviderHandle provider);

// `subscribe` of `App` and `Element`: one platform call with the lock released.
py::Ref subscribe_to(const ElementData& data, const ProviderHandle& provider);

}  // namespace vemor::python
