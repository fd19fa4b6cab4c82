/** The variables the package itself hands the bridge; they win over any given ones. */
export interface PackageVariables {
  MORVANE_PIPE: string;
  MORVANE_PIPE_SECRET: string;
}

export interface EnvironmentChoice {
  env?: NodeJS.ProcessEnv;
  inheritEnv?: boolean;
}

// Without SystemRoot a Windows process cannot load system DLLs (Winsock among them).
const windowsEssentials = ['SystemRoot', 'windir'];

/**
 * The bridge's environment: this process's (unless inheritEnv is false), then `env`, then the
 * package's variables. Without inheritance, Windows keeps its essentials from this process
 * unless `env` names them (in any letter case, as Windows does).
 */
export function childEnvironment(
  choice: EnvironmentChoice,
  variables: PackageVariables,
  parent: NodeJS.ProcessEnv = process.env,
  platform: NodeJS.Platform = process.platform,
): NodeJS.ProcessEnv {
  const given = choice.env ?? {};
  if (choice.inheritEnv !== false) return { ...parent, ...given, ...variables };
  const essentials: NodeJS.ProcessEnv = {};
  if (platform === 'win32') {
    const givenNames = Object.keys(given).map((name) => name.toLowerCase());
    for (const name of windowsEssentials) {
      const value = parent[name];
      if (value !== undefined && !givenNames.includes(name.toLowerCase())) essentials[name] = value;
    }
  }
  return { ...essentials, ...given, ...variables };
}
