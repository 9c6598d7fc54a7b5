#pragma once
// How a widget places itself in its parent: along an edge at its own height or width,
// over the rest of the parent, or centred at its own size. Shared by the control kit
// (a control placing itself) and the window's container tree (children placed in order).

namespace skm {

enum class TAlign { None, Bottom, Left, Right, Client, Center };

} // namespace skm
