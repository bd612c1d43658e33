"""Unit conversions shared by every part of the package: the one definition of the foot."""

M_PER_FT = 0.3048  # exact, by the international foot
FT_PER_M = 1.0 / M_PER_FT
