// QT_TRANSLATE_NOOP(context, text) marks a shown text for lupdate, which
// gathers the marked texts into the translation catalogue. Layers without
// Qt get it here as the plain text, the same as Qt defines it.
#pragma once

#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, x) x
#endif
