"""Unit conversions shared by every part of the package: the one definition of the foot."""

M_PER_FT = 0.3048  # exact, by the international foot
FT_PER_M = 1.0 / M_PER_FT

# Derived from the foot and the inch, for writing US results in SI.
M3S_PER_CFS = M_PER_FT ** 3
HA_PER_ACRE = 43560.0 * M_PER_FT ** 2 / 10000.0  # an acre is 43,560 sq ft
MM_PER_IN = 25.4  # exact
