#pragma once

#include "framework/WinTypes.h"

#include <span>
#include <type_traits>

class CWnd;

// A class's message map: a static table of the messages it handles, then its base class's map.
// Entries are built from member functions by OnCommand/OnMessage below, so that the table stays
// typed and free of macros.
namespace fw {

struct MessageMapEntry {
    UINT message;
    UINT code; // WM_COMMAND: the notification code (BN_CLICKED)
    UINT id;   // WM_COMMAND: the control id
    LRESULT (*invoke)(CWnd& target, WPARAM wParam, LPARAM lParam);
};

struct MessageMap {
    const MessageMap* base;
    std::span<const MessageMapEntry> entries;

    // The first entry for this message, searching this map and then its bases; null when none.
    const MessageMapEntry* Find(UINT message, WPARAM wParam) const;
};

namespace detail {

template <typename> struct MemberOf;
template <typename C, typename R, typename... A> struct MemberOf<R (C::*)(A...)> { using Class = C; };

template <auto handler> LRESULT Invoke(CWnd& target, WPARAM wParam, LPARAM lParam) {
    using Class = typename MemberOf<decltype(handler)>::Class;
    auto& self = static_cast<Class&>(target);
    if constexpr (std::is_invocable_v<decltype(handler), Class&, WPARAM, LPARAM>) {
        return (self.*handler)(wParam, lParam);
    } else {
        (self.*handler)();
        return 0;
    }
}

} // namespace detail

// A command of control id (WM_COMMAND with that id and notification code) to `void Member()`.
template <auto handler> constexpr MessageMapEntry OnCommand(UINT id, UINT code = BN_CLICKED) {
    return {WM_COMMAND, code, id, &detail::Invoke<handler>};
}

// A message to `void Member()` or `LRESULT Member(WPARAM, LPARAM)`.
template <auto handler> constexpr MessageMapEntry OnMessage(UINT message) {
    return {message, 0, 0, &detail::Invoke<handler>};
}

} // namespace fw
