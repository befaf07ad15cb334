# Sourced by whatever runs GIMP for us. make_gimp_profile WORK PLUGIN_FOLDER FILE_PLUGIN makes in
# WORK a fresh private profile whose plug-in path holds only our plug-in, Script-Fu and the one
# file plug-in named: GIMP then queries three plug-ins at start instead of a hundred, and nothing
# cached from an earlier build can answer. Run GIMP with HOME=WORK/home,
# GIMP2_DIRECTORY=WORK/profile and --gimprc=WORK/gimprc.
make_gimp_profile() {
    mkdir "$1/home" "$1/plug-ins"
    gimp_system_plugins=$(gimptool-2.0 --gimpplugindir)/plug-ins
    ln -s "$gimp_system_plugins/$3" "$gimp_system_plugins/script-fu" "$2" "$1/plug-ins/"
    echo "(plug-in-path \"$1/plug-ins\")" >"$1/gimprc"
}
