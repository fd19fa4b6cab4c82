/** Set by scripts/test-windows-node.sh, which runs these suites on Windows Node under Wine. */
export const underWine = process.env.MORVANE_TEST_UNDER_WINE === '1';
