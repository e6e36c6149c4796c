#pragma once

namespace driftpost { class TColorManager { public: TColorManager() = default; }; }
