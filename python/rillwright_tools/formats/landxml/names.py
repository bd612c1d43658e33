"""Names the LandXML reader and writer agree on."""

FEATURE_CODE = "rillwright"
SETTINGS_LABEL = "settings"
INLET_PREFIX = "inlet_"
