# Sourced by whatever runs GIMP for us. make_gimp_profile WORK PLUGIN_FOLDER SYSTEM_PLUGIN... makes
# in WORK a fresh private profile whose plug-in path holds only our plug-in, Script-Fu and the
# system plug-ins named (a file format, say): GIMP then queries a few plug-ins at start instead of
# a hundred, and nothing cached from an earlier build can answer. Run GIMP with HOME=WORK/home,
# GIMP2_DIRECTORY=WORK/profile and --gimprc=WORK/gimprc.
make_gimp_profile() {
    gimp_profile_work=$1 gimp_profile_plugin=$2
    shift 2
    mkdir "$gimp_profile_work/home" "$gimp_profile_work/plug-ins"
    gimp_system_plugins=$(gimptool-2.0 --gimpplugindir)/plug-ins
    ln -s "$gimp_system_plugins/script-fu" "$gimp_profile_plugin" "$gimp_profile_work/plug-ins/"
    for gimp_system_plugin in "$@"; do
        ln -s "$gimp_system_plugins/$gimp_system_plugin" "$gimp_profile_work/plug-ins/"
    done
    echo "(plug-in-path \"$gimp_profile_work/plug-ins\")" >"$gimp_profile_work/gimprc"
}

# For the scripts run from the checkout: builds the plug-in (in build/native, or in the configured
# tree MOXEL_BUILD names), then makes $work, removed on exit, with such a profile in it. Takes the
# system plug-ins to add.
make_gimp_work() {
    gimp_work_build="${MOXEL_BUILD:-build/native}"
    if [ -z "${MOXEL_BUILD:-}" ]; then cmake --preset native >/dev/null; fi
    cmake --build "$gimp_work_build" --target plug-in-moxel -j2 >/dev/null
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    make_gimp_profile "$work" "$PWD/$gimp_work_build/gimp/plug-in-moxel" "$@"
}
